// Base64 codec of the plug-in (standard alphabet, "=" padding): central connection profiles
// arrive as Base64 text of their cipher text. Owns the process-wide decoding table.
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "be_def.h"

namespace {

constexpr char encoding_table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int mod_table[] = {0, 2, 1};

unsigned char decoding_table[256];
std::once_flag decoding_table_once;

}  // namespace

extern "C" {

void build_decoding_table(void) {
    for (int i = 0; i < 64; ++i)
        decoding_table[static_cast<unsigned char>(encoding_table[i])] = static_cast<unsigned char>(i);
}

char* base64_encode(const unsigned char* data, int input_length, int* output_length) {
    if (!output_length) return nullptr;
    *output_length = 0;
    if (input_length < 0 || (!data && input_length > 0)) return nullptr;
    if (input_length > (0x7fffffff / 4) * 3 - 3) return nullptr;
    const int out_len = 4 * ((input_length + 2) / 3);
    // malloc(0) may give null; one spare byte keeps an empty result distinct from a failure.
    char* encoded = static_cast<char*>(std::malloc(static_cast<std::size_t>(out_len) + 1));
    if (!encoded) return nullptr;
    for (int i = 0, j = 0; i < input_length;) {
        const unsigned a = data[i++];
        const unsigned b = i < input_length ? data[i++] : 0;
        const unsigned c = i < input_length ? data[i++] : 0;
        const unsigned triple = (a << 16) | (b << 8) | c;
        encoded[j++] = encoding_table[(triple >> 18) & 0x3f];
        encoded[j++] = encoding_table[(triple >> 12) & 0x3f];
        encoded[j++] = encoding_table[(triple >> 6) & 0x3f];
        encoded[j++] = encoding_table[triple & 0x3f];
    }
    for (int i = 0; i < mod_table[input_length % 3]; ++i) encoded[out_len - 1 - i] = '=';
    *output_length = out_len;
    return encoded;
}

unsigned char* base64_decode(const char* data, int input_length, int* output_length) {
    if (!output_length) return nullptr;
    *output_length = 0;
    std::call_once(decoding_table_once, build_decoding_table);
    // An empty text decodes to nothing: there is no last character to look at.
    if (!data || input_length <= 0 || input_length % 4 != 0) return nullptr;
    int out_len = input_length / 4 * 3;
    if (data[input_length - 1] == '=') --out_len;
    if (data[input_length - 2] == '=') --out_len;
    unsigned char* decoded = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(out_len) + 1));
    if (!decoded) return nullptr;
    auto sextet = [&](int k) -> unsigned {
        const unsigned char ch = static_cast<unsigned char>(data[k]);
        return ch == '=' ? 0u : decoding_table[ch];
    };
    for (int i = 0, j = 0; i < input_length; i += 4) {
        const unsigned triple = (sextet(i) << 18) | (sextet(i + 1) << 12) | (sextet(i + 2) << 6) | sextet(i + 3);
        if (j < out_len) decoded[j++] = static_cast<unsigned char>((triple >> 16) & 0xff);
        if (j < out_len) decoded[j++] = static_cast<unsigned char>((triple >> 8) & 0xff);
        if (j < out_len) decoded[j++] = static_cast<unsigned char>(triple & 0xff);
    }
    *output_length = out_len;
    return decoded;
}

}  // extern "C"
