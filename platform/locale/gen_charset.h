// What glibc's iconv says of a character set: the character of each single byte, the characters
// of the multi-byte sequences, and the bytes of each BMP character.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace gen {

using Seq = std::vector<uint8_t>;

// The order of byte sequences in the maps: byte by byte, a prefix before its continuations (the
// order of std::less, compared without the three-way memcmp that GCC 12 at -O3 misjudges).
struct SeqLess {
    bool operator()(const Seq& a, const Seq& b) const {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
    }
};
template <typename Value>
using SeqMap = std::map<Seq, Value, SeqLess>;

struct CharsetFacts {
    std::array<std::optional<char16_t>, 256> single{};  // one byte (the single-byte state of a stateful set)
    SeqMap<char16_t> multi;                             // sequences of 2-4 bytes; beyond the BMP: U+FFFD
    std::map<char16_t, Seq> encode;                     // BMP character -> bytes (shift codes taken off)
};

struct CharsetShape {
    bool stateful = false;                 // shift-out 0x0E / shift-in 0x0F around double-byte text
    int max_len = 4;                       // longest sequence kept
    std::vector<uint8_t> four_byte_leads;  // when set, four-byte sequences only with these leads
};

// Asks iconv for the bytes of every BMP character (the encode map of the facts). Throws
// std::runtime_error when iconv does not know the set.
void probe_encodings(const char* charset, const CharsetShape& shape, CharsetFacts& facts);
// Asks iconv about every byte and the multi-byte sequences the set uses (after the encodings,
// whose prefixes say where longer sequences start).
void probe_decodings(const char* charset, const CharsetShape& shape, CharsetFacts& facts);

}  // namespace gen
