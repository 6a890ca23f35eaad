// Builds the decoding and type tries of multi-byte code pages.
#include "gen_trie.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>
#include <stdexcept>

#include "gc.h"

namespace gen {
namespace {

template <typename T>
void append(Bytes& b, const T& v) {
    const auto* p = reinterpret_cast<const uint8_t*>(&v);
    b.insert(b.end(), p, p + sizeof v);
}

uint16_t index16(size_t v, const char* what) {
    if (v > 0xFFFF) throw std::runtime_error(std::string(what) + " overrun their 16-bit indexes");
    return static_cast<uint16_t>(v);
}

// The next bytes after a prefix, and whether each completes a sequence or continues it.
struct Next {
    std::set<uint8_t> ends;       // prefix + b is a whole sequence
    std::set<uint8_t> continues;  // longer sequences run through prefix + b
};

template <typename Value>
Next next_of(const SeqMap<Value>& seqs, const Seq& prefix) {
    Next n;
    for (auto it = seqs.lower_bound(prefix); it != seqs.end(); ++it) {
        const Seq& s = it->first;
        if (s.size() < prefix.size() || !std::equal(prefix.begin(), prefix.end(), s.begin())) break;
        if (s.size() == prefix.size()) continue;  // the prefix itself
        (s.size() == prefix.size() + 1 ? n.ends : n.continues).insert(s[prefix.size()]);
    }
    return n;
}

class DecodingBuilder {
public:
    DecodingBuilder(const SeqMap<char16_t>& seqs, bool lead_byte_path) : seqs_(seqs), lead_(lead_byte_path) {}

    void build() {
        nodes_.resize(1);
        nodes_[0] = inner(Seq{});
    }

    std::vector<GCCpNode> nodes_;
    std::vector<uint16_t> values_;

private:
    static GCCpNode empty() { return GCCpNode{1, 0, 1, 0, 0}; }

    GCCpNode leaf(const Seq& prefix, const std::set<uint8_t>& bytes) {
        const uint8_t low = *bytes.begin();
        const uint8_t high = *bytes.rbegin();
        std::vector<uint16_t> block;
        bool any = false;
        for (unsigned b = low; b <= high; ++b) {
            Seq s = prefix;
            s.push_back(static_cast<uint8_t>(b));
            const auto it = seqs_.find(s);
            const uint16_t v = it == seqs_.end() ? 0xFFFD : it->second;
            any = any || v != 0xFFFD;
            block.push_back(v);
        }
        if (!any) return empty();
        const size_t start = values_.size() >= low ? values_.size() - low : 0;
        values_.resize(std::max(values_.size(), start + high + 1), 0xFFFD);
        for (unsigned b = low; b <= high; ++b) values_[start + b] = block[b - low];
        return GCCpNode{1, 0xFF, low, high, index16(start, "decoding values")};
    }

    // A block of child nodes for slots [first, last]; returns its base.
    uint16_t block(unsigned first, unsigned last) {
        const size_t start = nodes_.size() >= first ? nodes_.size() - first : 0;
        nodes_.resize(std::max(nodes_.size(), start + last + 1), empty());
        return index16(start, "decoding nodes");
    }

    GCCpNode inner(const Seq& prefix) {
        const Next next = next_of(seqs_, prefix);
        if (lead_ && prefix.size() == 1) return lead_node(prefix, next);
        if (next.continues.empty()) return next.ends.empty() ? empty() : leaf(prefix, next.ends);
        if (!next.ends.empty()) throw std::runtime_error("a byte both ends and continues sequences");
        const uint8_t low = *next.continues.begin();
        const uint8_t high = *next.continues.rbegin();
        const uint16_t base = block(low, high);
        for (uint8_t b : next.continues) {
            Seq s = prefix;
            s.push_back(b);
            const GCCpNode child = inner(s);
            nodes_[base + b] = child;
        }
        return GCCpNode{0, 0xFF, low, high, base};
    }

    // Page 938: a lead's two-byte characters hang at slot 0x40, its four-byte ones at 0x30-0x39.
    GCCpNode lead_node(const Seq& prefix, const Next& next) {
        std::set<uint8_t> two = next.ends;
        if (two.empty() && next.continues.empty()) return empty();
        const unsigned first = next.continues.empty() ? 0x40 : *next.continues.begin();
        const uint16_t base = block(first, 0x40);
        for (uint8_t b : next.continues) {
            Seq s = prefix;
            s.push_back(b);
            const GCCpNode child = inner(s);
            nodes_[base + b] = child;
        }
        if (!two.empty()) {
            const GCCpNode b_node = leaf(prefix, two);
            nodes_[base + 0x40] = b_node;
        }
        if (next.continues.empty()) return GCCpNode{0, 0xFF, 1, 0, base};
        return GCCpNode{0, 0xFF, *next.continues.begin(), *next.continues.rbegin(), base};
    }

    const SeqMap<char16_t>& seqs_;
    bool lead_;
};

}  // namespace

Bytes decoding_trie(const SeqMap<char16_t>& sequences, bool lead_byte_path, uint32_t* value_offset) {
    DecodingBuilder builder(sequences, lead_byte_path);
    builder.build();
    Bytes out;
    for (const GCCpNode& n : builder.nodes_) append(out, n);
    *value_offset = static_cast<uint32_t>(out.size());
    for (uint16_t v : builder.values_) append(out, v);
    return out;
}

Bytes decoding_trie_v1(const SeqMap<char16_t>& sequences, uint32_t* node_size) {
    // Blocks of 256 everywhere: a byte a sequence does not use reaches an empty leaf whose values
    // are all U+FFFD, so no range is needed.
    std::vector<GCCpNodeV1> nodes(1);
    std::vector<uint16_t> values(256, 0xFFFD);  // the empty leaf's values
    const GCCpNodeV1 empty{1, 0xFF, 0};
    std::function<GCCpNodeV1(const Seq&)> build = [&](const Seq& prefix) -> GCCpNodeV1 {
        const Next next = next_of(sequences, prefix);
        if (!next.ends.empty() && !next.continues.empty()) throw std::runtime_error("version 1 has no lead-byte path");
        if (next.continues.empty()) {
            if (next.ends.empty()) return empty;
            const size_t base = values.size();
            values.resize(base + 256, 0xFFFD);
            for (uint8_t b : next.ends) {
                Seq s = prefix;
                s.push_back(b);
                values[base + b] = sequences.at(s);
            }
            return GCCpNodeV1{1, 0xFF, index16(base, "decoding values")};
        }
        const size_t base = nodes.size();
        nodes.resize(base + 256, empty);
        for (uint8_t b : next.continues) {
            Seq s = prefix;
            s.push_back(b);
            const GCCpNodeV1 child = build(s);
            nodes[base + b] = child;
        }
        return GCCpNodeV1{0, 0xFF, index16(base, "decoding nodes")};
    };
    nodes[0] = build(Seq{});
    Bytes out;
    for (const GCCpNodeV1& n : nodes) append(out, n);
    *node_size = static_cast<uint32_t>(out.size());
    for (uint16_t v : values) append(out, v);
    return out;
}

namespace {

class TypeBuilder {
public:
    TypeBuilder(const SeqMap<TypeRecord>& chars, bool lead_byte_path) : chars_(chars), lead_(lead_byte_path) {
        records_.push_back(TypeRecord{});
        single_index_[TypeRecord{}] = 0;
    }

    void build() {
        nodes_.resize(1);
        nodes_[0] = inner(Seq{});
    }

    std::vector<GCCpTypeNode> nodes_;
    std::vector<TypeRecord> records_;

private:
    static constexpr GCCpTypeNode kZero{1, 0, 0};

    // The mask that tells the given bytes apart with the fewest slots.
    static uint8_t mask_for(const std::set<uint8_t>& bytes) {
        for (uint8_t mask : {0x0F, 0x3F, 0x7F}) {
            std::set<uint8_t> slots;
            for (uint8_t b : bytes) slots.insert(b & mask);
            if (slots.size() == bytes.size()) return mask;
        }
        return 0xFF;
    }

    uint16_t record_index(const TypeRecord& r) {
        auto it = single_index_.find(r);
        if (it != single_index_.end()) return it->second;
        records_.push_back(r);
        const uint16_t i = index16(records_.size() - 1, "type records");
        single_index_[r] = i;
        return i;
    }

    // A leaf whose records cover every slot of its mask (the type trie has no ranges).
    GCCpTypeNode leaf(const Seq& prefix, const std::set<uint8_t>& bytes) {
        const uint8_t mask = mask_for(bytes);
        std::vector<TypeRecord> block(mask + 1u);
        for (uint8_t b : bytes) {
            Seq s = prefix;
            s.push_back(b);
            block[b & mask] = chars_.at(s);
        }
        auto it = blocks_.find(block);
        if (it != blocks_.end()) return GCCpTypeNode{1, mask, it->second};
        const uint16_t base = index16(records_.size(), "type records");
        records_.insert(records_.end(), block.begin(), block.end());
        blocks_.emplace(block, base);
        return GCCpTypeNode{1, mask, base};
    }

    uint16_t block(uint8_t mask) {
        const uint16_t base = index16(nodes_.size(), "type nodes");
        nodes_.resize(nodes_.size() + mask + 1u, kZero);
        return base;
    }

    GCCpTypeNode inner(const Seq& prefix) {
        const Next next = next_of(chars_, prefix);
        const std::set<uint8_t>& ends = next.ends;
        const std::set<uint8_t>& continues = next.continues;
        if (prefix.empty()) {
            // The root: single-byte characters get a leaf of mask 0 on their own record.
            const uint16_t base = block(0xFF);
            for (uint8_t b : ends) nodes_[base + b] = GCCpTypeNode{1, 0, record_index(chars_.at(Seq{b}))};
            for (uint8_t b : continues) {
                const GCCpTypeNode child = inner(Seq{b});
                nodes_[base + b] = child;
            }
            return GCCpTypeNode{0, 0xFF, base};
        }
        if (lead_ && prefix.size() == 1) {
            // Page 938: two-byte characters at slot 0x40, four-byte ones below it.
            const uint16_t base = block(0xFF);
            for (uint8_t b : continues) {
                Seq s = prefix;
                s.push_back(b);
                const GCCpTypeNode child = inner(s);
                nodes_[base + b] = child;
            }
            if (!ends.empty()) {
                const GCCpTypeNode two = leaf(prefix, ends);
                nodes_[base + 0x40] = two;
            }
            return GCCpTypeNode{0, 0xFF, base};
        }
        if (continues.empty()) return ends.empty() ? kZero : leaf(prefix, ends);
        if (!ends.empty()) throw std::runtime_error("a byte both ends and continues characters");
        const uint8_t mask = mask_for(continues);
        const uint16_t base = block(mask);
        for (uint8_t b : continues) {
            Seq s = prefix;
            s.push_back(b);
            const GCCpTypeNode child = inner(s);
            nodes_[base + (b & mask)] = child;
        }
        return GCCpTypeNode{0, mask, base};
    }

    const SeqMap<TypeRecord>& chars_;
    bool lead_;
    std::map<TypeRecord, uint16_t> single_index_;
    std::map<std::vector<TypeRecord>, uint16_t> blocks_;
};

}  // namespace

TypeTrie type_trie(const SeqMap<TypeRecord>& characters, bool lead_byte_path) {
    TypeBuilder builder(characters, lead_byte_path);
    builder.build();
    TypeTrie trie;
    for (const GCCpTypeNode& n : builder.nodes_) append(trie.nodes, n);
    for (const TypeRecord& r : builder.records_) {
        append(trie.records, r.flags);
        append(trie.records, r.delta);
    }
    return trie;
}

}  // namespace gen
