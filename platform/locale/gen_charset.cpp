// Probes a character set through glibc's iconv, one character at a time.
#include "gen_charset.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <stdexcept>

namespace gen {
namespace {

enum class Outcome { Char, Incomplete, Invalid };

class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error(std::string("iconv cannot convert from ") + from + " to " + to);
    }
    ~Converter() { iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts the whole input from the initial state; the output with the closing shift.
    bool run(const uint8_t* in, size_t n, std::string& out, int* err) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char inbuf[16];
        std::memcpy(inbuf, in, n);
        char outbuf[64];
        char* ip = inbuf;
        char* op = outbuf;
        size_t il = n;
        size_t ol = sizeof outbuf;
        *err = 0;
        if (iconv(cd_, &ip, &il, &op, &ol) == static_cast<size_t>(-1)) {
            *err = errno;
            return false;
        }
        if (iconv(cd_, nullptr, nullptr, &op, &ol) == static_cast<size_t>(-1)) {
            *err = errno;
            return false;
        }
        out.assign(outbuf, static_cast<size_t>(op - outbuf));
        return true;
    }

private:
    iconv_t cd_;
};

class Decoder {
public:
    explicit Decoder(const char* charset, bool stateful) : conv_("UTF-16LE", charset), stateful_(stateful) {}

    // The one character a sequence decodes to (double-byte state when dbl).
    Outcome decode(const Seq& seq, bool dbl, char16_t* c) {
        uint8_t in[8];
        size_t n = 0;
        if (dbl) in[n++] = 0x0E;
        for (uint8_t b : seq) in[n++] = b;
        if (dbl) in[n++] = 0x0F;
        std::string out;
        int err;
        if (!conv_.run(in, n, out, &err)) return err == EINVAL && !dbl ? Outcome::Incomplete : Outcome::Invalid;
        (void)stateful_;
        if (out.size() == 4) {
            char16_t hi;
            std::memcpy(&hi, out.data(), 2);
            if (hi >= 0xD800 && hi <= 0xDBFF) {
                *c = 0xFFFD;  // beyond the BMP
                return Outcome::Char;
            }
            return Outcome::Invalid;
        }
        if (out.size() != 2) return Outcome::Invalid;
        std::memcpy(c, out.data(), 2);
        if (*c >= 0xD800 && *c <= 0xDFFF) return Outcome::Invalid;
        return Outcome::Char;
    }

private:
    Converter conv_;
    bool stateful_;
};

}  // namespace

void probe_encodings(const char* charset, const CharsetShape& shape, CharsetFacts& facts) {
    Converter encoder(charset, "UTF-16LE");
    for (uint32_t u = 0; u <= 0xFFFF; ++u) {
        if (u >= 0xD800 && u <= 0xDFFF) continue;
        const char16_t c = static_cast<char16_t>(u);
        std::string out;
        int err;
        if (!encoder.run(reinterpret_cast<const uint8_t*>(&c), 2, out, &err)) continue;
        Seq bytes(out.begin(), out.end());
        if (shape.stateful) {
            // Double-byte characters come framed by shift codes.
            if (!bytes.empty() && bytes.front() == 0x0E) bytes.erase(bytes.begin());
            if (!bytes.empty() && bytes.back() == 0x0F) bytes.pop_back();
        }
        if (bytes.empty() || bytes.size() > static_cast<size_t>(shape.max_len)) continue;
        if (bytes.size() == 4 && !shape.four_byte_leads.empty()) {
            bool allowed = false;
            for (uint8_t lead : shape.four_byte_leads) allowed = allowed || bytes[0] == lead;
            if (!allowed) continue;
        }
        facts.encode.emplace(c, bytes);
    }
}

void probe_decodings(const char* charset, const CharsetShape& shape, CharsetFacts& facts) {
    Decoder decoder(charset, shape.stateful);
    for (unsigned b = 0; b < 256; ++b) {
        char16_t c;
        if (decoder.decode(Seq{static_cast<uint8_t>(b)}, false, &c) == Outcome::Char) facts.single[b] = c;
    }
    if (shape.max_len < 2) return;
    // Sequences grow from every byte that is not a character itself, one byte at a time, as long
    // as iconv calls them incomplete.
    std::vector<Seq> prefixes;
    for (unsigned b = 0; b < 256; ++b)
        if (shape.stateful || !facts.single[b]) prefixes.push_back(Seq{static_cast<uint8_t>(b)});
    while (!prefixes.empty()) {
        std::vector<Seq> longer;
        for (const Seq& prefix : prefixes) {
            for (unsigned b = 0; b < 256; ++b) {
                Seq seq = prefix;
                seq.push_back(static_cast<uint8_t>(b));
                char16_t c;
                const Outcome outcome = decoder.decode(seq, shape.stateful, &c);
                if (outcome == Outcome::Char) facts.multi.emplace(seq, c);
                const bool allowed = shape.four_byte_leads.empty() ||
                                     std::find(shape.four_byte_leads.begin(), shape.four_byte_leads.end(), seq[0]) !=
                                         shape.four_byte_leads.end();
                if (outcome == Outcome::Incomplete && seq.size() < static_cast<size_t>(shape.max_len) && allowed)
                    longer.push_back(seq);
            }
        }
        prefixes = std::move(longer);
    }
}

}  // namespace gen
