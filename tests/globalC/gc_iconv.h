// iconv as the reference of the code-page tests: one character decoded or encoded at a time.
#pragma once

#include <iconv.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace gctest {

using Seq = std::vector<uint8_t>;

class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error(std::string("iconv: ") + from + " -> " + to);
    }
    ~Iconv() { iconv_close(cd_); }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    // The whole input converted from the initial state, with the closing shift; nothing on error.
    std::optional<std::string> run(const void* in, size_t n) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        std::string input(static_cast<const char*>(in), n);
        std::string out(4 * n + 64, '\0');
        char* ip = input.data();
        char* op = out.data();
        size_t il = n;
        size_t ol = out.size();
        if (iconv(cd_, &ip, &il, &op, &ol) == static_cast<size_t>(-1)) return std::nullopt;
        if (iconv(cd_, nullptr, nullptr, &op, &ol) == static_cast<size_t>(-1)) return std::nullopt;
        out.resize(static_cast<size_t>(op - out.data()));
        return out;
    }

private:
    iconv_t cd_;
};

// Decodes one whole sequence: the BMP unit, a packed surrogate pair, or nothing (invalid,
// incomplete, several characters).
inline std::optional<uint32_t> iconv_decode(Iconv& to_utf16, const Seq& seq) {
    const auto out = to_utf16.run(seq.data(), seq.size());
    if (!out) return std::nullopt;
    if (out->size() == 2) {
        uint16_t u;
        std::memcpy(&u, out->data(), 2);
        return u;
    }
    if (out->size() == 4) {
        uint16_t u[2];
        std::memcpy(u, out->data(), 4);
        if (u[0] >= 0xD800 && u[0] <= 0xDBFF && u[1] >= 0xDC00 && u[1] <= 0xDFFF)
            return (static_cast<uint32_t>(u[0]) << 16) | u[1];
    }
    return std::nullopt;
}

// Encodes one BMP character; the bytes (shift codes of a stateful set taken off), or nothing.
inline std::optional<Seq> iconv_encode(Iconv& from_utf16, uint16_t u, bool stateful) {
    const auto out = from_utf16.run(&u, 2);
    if (!out || out->empty()) return std::nullopt;
    Seq bytes(out->begin(), out->end());
    if (stateful) {
        if (bytes.front() == 0x0E) bytes.erase(bytes.begin());
        if (!bytes.empty() && bytes.back() == 0x0F) bytes.pop_back();
    }
    return bytes;
}

}  // namespace gctest
