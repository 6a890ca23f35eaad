// The tries of a multi-byte code page: the decoding trie of section 2 (6-byte nodes with byte
// ranges, and the version 1 form: 4-byte nodes whose blocks cover every byte) and the character-
// type trie with its records.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "gen_charset.h"
#include "gen_file.h"

namespace gen {

struct TypeRecord {
    uint32_t flags = 0;
    int32_t delta = 0;
    bool operator<(const TypeRecord& o) const { return flags != o.flags ? flags < o.flags : delta < o.delta; }
    bool operator==(const TypeRecord& o) const { return flags == o.flags && delta == o.delta; }
};

// Section 2 of a version 3 page: nodes, then the UTF-16 values at the returned offset. With
// lead_byte_path, every lead's two-byte characters hang at slot 0x40 of its node (page 938).
// Throws std::runtime_error when an index would not fit 16 bits.
Bytes decoding_trie(const SeqMap<char16_t>& sequences, bool lead_byte_path, uint32_t* value_offset);
// The version 1 form: 4-byte nodes without ranges, blocks of 256; returns the node bytes' size.
Bytes decoding_trie_v1(const SeqMap<char16_t>& sequences, uint32_t* node_size);

// The type trie (4-byte nodes) and its records (8 bytes each; record 0 is all zero) over every
// character of the page, single bytes included.
struct TypeTrie {
    Bytes nodes;
    Bytes records;
};
TypeTrie type_trie(const SeqMap<TypeRecord>& characters, bool lead_byte_path);

}  // namespace gen
