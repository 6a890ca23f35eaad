// The stand-in session, attribute lists and requests files of the benchmarks that run the plug-in's
// job and discovery code.
#include "bench_standin.h"

#include <cstdlib>
#include <ctime>

namespace bench {

BE_DUZ_Handles* stand_in_session() {
    static BE_DUZ_Handles* const open = [] {
        Attributes account{{"DB_LOGIN", "APPS"}, {"DB_PASSWD", "apps"}, {"DB_SID", "VIS"}};
        auto* handle = static_cast<BE_DUZ_Handles*>(std::malloc(sizeof(BE_DUZ_Handles)));
        BE_DUZ_OCI_Init_Handle(handle);
        ZPAError error{};
        if (BE_DUZ_OCI_START_Session(account.list(), handle, &error) != 0) {
            std::free(handle);
            return static_cast<BE_DUZ_Handles*>(nullptr);
        }
        return handle;
    }();
    return open;
}

std::string requests_file(int rows) {
    const std::string now = std::to_string(std::time(nullptr));
    std::string content;
    for (int i = 0; i < rows; ++i) {
        std::string key = std::to_string(1000000 + i);
        key.resize(BE_DUZ_REQS_KEY_WIDTH, ' ');
        content += key + "  " + now + "\n\n";
    }
    return content;
}

Attributes::Attributes(std::initializer_list<std::pair<std::string, std::string>> pairs) : pairs_(pairs) {
    for (auto& [name, value] : pairs_)
        attrs_.push_back({name.data(), static_cast<unsigned short>(value.size() + 1), value.data()});
    list_ = {static_cast<int>(attrs_.size()), attrs_.data(), 0};
}

}  // namespace bench
