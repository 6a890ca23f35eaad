/* Growable byte array (zeroed storage, always a zero byte after the data) and string array
 * (NULL-terminated vector of owned strings, growing by a fixed step). */
#include "ess_arrays.h"

#include <cstdlib>
#include <cstring>

#include "ess_str_utils.h"

namespace {

int compare_strings(const void* a, const void* b) {
    return std::strcmp(*static_cast<char* const*>(a), *static_cast<char* const*>(b));
}

}  // namespace

extern "C" {

ESS_CharArray* ESS_NewCharArray(int size) {
    if (size < 0) return nullptr;
    auto* arr = static_cast<ESS_CharArray*>(std::calloc(1, sizeof(ESS_CharArray)));
    if (!arr) return nullptr;
    arr->data = static_cast<char*>(std::calloc(static_cast<size_t>(size) + (size == 0 ? 1 : 0), 1));
    if (!arr->data) {
        std::free(arr);
        return nullptr;
    }
    arr->spacelen = size;
    return arr;
}

char* ESS_Add2CharArray(ESS_CharArray* arr, const void* bytes, int n) {
    if (!arr || !arr->data || n < 0 || (n > 0 && !bytes)) return nullptr;
    if (arr->spacelen <= n) {
        /* A new zeroed block with room to spare, so that a zero byte follows the data. */
        const size_t total = static_cast<size_t>(arr->datalen) + static_cast<size_t>(n) + ESS_CHAR_ARRAY_STEP;
        auto* grown = static_cast<char*>(std::calloc(total, 1));
        if (!grown) return nullptr;
        std::memcpy(grown, arr->data, static_cast<size_t>(arr->datalen));
        std::free(arr->data);
        arr->data = grown;
        arr->spacelen = static_cast<int>(total) - arr->datalen;
    }
    if (n > 0) std::memcpy(arr->data + arr->datalen, bytes, static_cast<size_t>(n));
    arr->datalen += n;
    arr->spacelen -= n;
    return arr->data;
}

void ESS_DeleteCharArray(ESS_CharArray* arr) {
    if (!arr) return;
    std::free(arr->data);
    std::free(arr);
}

char* ESS_GetCharArrayPtr(ESS_CharArray* arr) { return arr ? arr->data : nullptr; }

int ESS_GetCharArrayLength(ESS_CharArray* arr) { return arr ? arr->datalen : 0; }

ESS_StringArray* ESS_NewStringArray(int n) {
    auto* arr = static_cast<ESS_StringArray*>(std::calloc(1, sizeof(ESS_StringArray)));
    if (!arr) return nullptr;
    arr->size = n > 0 ? n : 0;
    arr->expincr = ESS_STRING_ARRAY_STEP;
    arr->argv = static_cast<char**>(std::calloc(static_cast<size_t>(arr->size) + 1, sizeof(char*)));
    if (!arr->argv) {
        std::free(arr);
        return nullptr;
    }
    return arr;
}

int ESS_StringArrayExpand(ESS_StringArray* arr) {
    if (!arr || !arr->argv) return -1;
    const int grown = arr->size + arr->expincr;
    auto* argv = static_cast<char**>(std::realloc(arr->argv, (static_cast<size_t>(grown) + 1) * sizeof(char*)));
    if (!argv) return -1;
    for (int i = arr->size; i <= grown; ++i) argv[i] = nullptr;
    arr->argv = argv;
    arr->size = grown;
    return 0;
}

int ESS_Add2StringArray(ESS_StringArray* arr, const char* text) {
    if (!arr || !arr->argv || !text) return -1;
    if (arr->cur >= arr->size && ESS_StringArrayExpand(arr) != 0) return -1;
    char* copy = ess_strdup(text);
    if (!copy) return -1;
    arr->argv[arr->cur++] = copy;
    arr->argv[arr->cur] = nullptr;
    return 0;
}

void ESS_StringArrayDelete(ESS_StringArray* arr) {
    if (!arr) return;
    if (arr->argv)
        for (int i = 0; i < arr->cur; ++i) std::free(arr->argv[i]);
    std::free(arr->argv);
    std::free(arr);
}

char** ESS_GetArgvStringArray(ESS_StringArray* arr) { return arr ? arr->argv : nullptr; }

char* ESS_GetStrStringArray(ESS_StringArray* arr, int i) {
    if (!arr || !arr->argv || i < 0 || i >= arr->cur) return nullptr;
    return arr->argv[i];
}

int ESS_UpdateStringArray(ESS_StringArray* arr, int i, const char* text) {
    if (!arr || !arr->argv || i < 0 || i >= arr->cur) return -1;
    if (!arr->argv[i]) return 0;
    char* copy = ess_strdup(text);
    if (!copy) return -1;
    std::free(arr->argv[i]);
    arr->argv[i] = copy;
    return 0;
}

int ESS_SortStringArray(ESS_StringArray* arr) {
    if (!arr || !arr->argv) return -1;
    for (int i = 0; i < arr->cur; ++i)
        if (!arr->argv[i]) return -1;
    std::qsort(arr->argv, static_cast<size_t>(arr->cur), sizeof(char*), compare_strings);
    return 0;
}

}  // extern "C"
