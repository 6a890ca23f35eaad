// Feeds arbitrary bytes to a security policy as its site policy file: initialisation reads the
// stanzas, gathers the entries and goes as far as loading the provider, which is not there (the
// working directory's lib/ is empty), so it must end in a clean refusal.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "ess.h"
#include "ess_policy.h"
#include "quiet_output.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        mkdir("lib", 0755);
        mkdir("fuzz_policy", 0755);
        return ESS_Init() == 0;
    }();
    if (!ready || size == 0 || size > 65536) return 0;
    if (FILE* f = std::fopen("fuzz_policy/site.plc", "wb")) {
        std::fwrite(data + 1, 1, size - 1, f);
        std::fclose(f);
    } else {
        return 0;
    }
    ESS_Policy* policy = ESS_Policy_New("fuzz_policy/site.plc", nullptr, data[0] % 8);
    if (!policy) __builtin_trap();
    const int rc = ESS_Policy_InitSecurityPolicy(policy);
    if (rc == 0 || ESS_Policy_GetLevel(policy) != 0 || ESS_Policy_GetModule(policy)) __builtin_trap();
    ESS_Policy_Delete(policy);
    return 0;
}
