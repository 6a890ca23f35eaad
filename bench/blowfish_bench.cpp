// Blowfish value encryption (GM_BLOWF_encrypt: a 64-byte value into its text form under the
// built-in key) against OpenSSL's Blowfish-CBC on the same 64 bytes with the same key, its key
// schedule made once as a caller that keeps its key would.
#define OPENSSL_SUPPRESS_DEPRECATED  // the low-level Blowfish calls are the baseline itself
#include <benchmark/benchmark.h>
#include <openssl/blowfish.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "bench_support.h"
#include "gm_blowf.h"

namespace {

const std::string kValue(64, 'v');

void BM_BlowfishValue(benchmark::State& state) {
    for (auto _ : state) {
        char value[1024] = {};
        std::memcpy(value, kValue.data(), kValue.size());
        if (GM_BLOWF_encrypt(value, sizeof value) != CM_RC_OK) state.SkipWithError("encryption failed");
        benchmark::DoNotOptimize(value);
    }
}

void BM_OpenSslBlowfish(benchmark::State& state) {
    unsigned char* key = GM_BLOWF_init_key();
    BF_KEY schedule;
    BF_set_key(&schedule, 32, key);
    for (auto _ : state) {
        unsigned char iv[8] = {};
        unsigned char out[64];
        BF_cbc_encrypt(reinterpret_cast<const unsigned char*>(kValue.data()), out, 64, &schedule, iv, BF_ENCRYPT);
        benchmark::DoNotOptimize(out);
    }
    std::free(key);
}

BENCHMARK(BM_BlowfishValue);
BENCHMARK(BM_OpenSslBlowfish);

const bench::Ratio kBlowfish("Blowfish value encryption of 64 bytes / OpenSSL's Blowfish, schedule made once",
                             "BM_BlowfishValue", "BM_OpenSslBlowfish", bench::at_most(3));

}  // namespace
