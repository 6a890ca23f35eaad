// Builds sort objects from ICU collation elements: primaries ranked into 16 bits, secondaries and
// tertiaries into 8, a character of two collation elements as an expansion (further elements
// dropped), two-character contractions as combinations, rows of consecutive primaries computed
// and rows without any weight flagged ignorable.
#include "gen_sort.h"

#include <unicode/coleitr.h>
#include <unicode/tblcoll.h>
#include <unicode/uchar.h>
#include <unicode/ucol.h>
#include <unicode/uniset.h>
#include <unicode/usetiter.h>

#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <vector>

#include "gc.h"

namespace gen {
namespace {

struct Element {
    std::vector<uint32_t> primary;  // a primary and its continuations
    uint32_t secondary = 0;
    uint32_t tertiary = 0;
};

std::vector<Element> elements(icu::CollationElementIterator& it, const icu::UnicodeString& text) {
    UErrorCode status = U_ZERO_ERROR;
    it.setText(text, status);
    std::vector<Element> out;
    for (int32_t ce = it.next(status); ce != icu::CollationElementIterator::NULLORDER && U_SUCCESS(status);
         ce = it.next(status)) {
        if (ce == 0) continue;
        const bool continuation = (ce & 0xC0) == 0xC0;
        const uint32_t p = static_cast<uint32_t>(icu::CollationElementIterator::primaryOrder(ce));
        if (continuation && !out.empty()) {
            out.back().primary.push_back(p);
            continue;
        }
        Element e;
        if (p) e.primary.push_back(p);
        e.secondary = static_cast<uint32_t>(icu::CollationElementIterator::secondaryOrder(ce));
        e.tertiary = static_cast<uint32_t>(icu::CollationElementIterator::tertiaryOrder(ce)) & 0x3F;
        out.push_back(e);
    }
    return out;
}

uint8_t char_class(UChar32 c) {
    switch (u_charType(c)) {
    case U_UPPERCASE_LETTER:
    case U_LOWERCASE_LETTER:
    case U_TITLECASE_LETTER:
    case U_MODIFIER_LETTER:
    case U_OTHER_LETTER: return 1;
    case U_DECIMAL_DIGIT_NUMBER:
    case U_LETTER_NUMBER:
    case U_OTHER_NUMBER: return 2;
    case U_CONNECTOR_PUNCTUATION:
    case U_DASH_PUNCTUATION:
    case U_START_PUNCTUATION:
    case U_END_PUNCTUATION:
    case U_INITIAL_PUNCTUATION:
    case U_FINAL_PUNCTUATION:
    case U_OTHER_PUNCTUATION: return 3;
    case U_MATH_SYMBOL:
    case U_CURRENCY_SYMBOL:
    case U_MODIFIER_SYMBOL:
    case U_OTHER_SYMBOL: return 4;
    case U_SPACE_SEPARATOR:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR: return 5;
    case U_NON_SPACING_MARK:
    case U_ENCLOSING_MARK:
    case U_COMBINING_SPACING_MARK: return 6;
    default: return 0;
    }
}

template <typename T>
void append(Bytes& b, const T& v) {
    const auto* p = reinterpret_cast<const uint8_t*>(&v);
    b.insert(b.end(), p, p + sizeof v);
}

// Dense ranks of a set of values, in order, from `first`.
template <typename T>
std::map<T, uint32_t> ranks(const std::set<T>& values, uint32_t first) {
    std::map<T, uint32_t> r;
    uint32_t next = first;
    for (const T& v : values) r[v] = next++;
    return r;
}

}  // namespace

Object make_sort(const SortDef& def) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(icu::Locale(def.icu), status));
    auto* rules = dynamic_cast<icu::RuleBasedCollator*>(collator.get());
    if (U_FAILURE(status) || !rules) throw std::runtime_error(std::string("ICU has no collator for ") + def.icu);
    std::unique_ptr<icu::CollationElementIterator> it(rules->createCollationElementIterator(icu::UnicodeString()));

    std::vector<std::vector<Element>> chars(0x10000);
    for (UChar32 c = 0; c <= 0xFFFF; ++c)
        if (c < 0xD800 || c > 0xDFFF) chars[c] = elements(*it, icu::UnicodeString(c));

    // Two-character contractions of the tailoring (or of the root order).
    struct Combination {
        char16_t first, second;
        Element e;
    };
    std::vector<Combination> combinations;
    icu::UnicodeSet contractions;
    icu::UnicodeSet expansions;
    ucol_getContractionsAndExpansions(rules->toUCollator(), contractions.toUSet(), expansions.toUSet(), false, &status);
    icu::UnicodeSetIterator strings(contractions);
    while (strings.next()) {
        if (!strings.isString()) continue;
        const icu::UnicodeString& s = strings.getString();
        if (s.length() != 2 || U16_IS_SURROGATE(s.charAt(0)) || U16_IS_SURROGATE(s.charAt(1))) continue;
        const std::vector<Element> e = elements(*it, s);
        if (e.size() == 1) combinations.push_back({s.charAt(0), s.charAt(1), e[0]});
    }

    std::set<std::vector<uint32_t>> primaries;
    std::set<uint32_t> secondaries;
    std::set<uint32_t> tertiaries;
    auto note = [&](const Element& e) {
        if (!e.primary.empty()) primaries.insert(e.primary);
        if (e.secondary) secondaries.insert(e.secondary);
        if (e.tertiary) tertiaries.insert(e.tertiary);
    };
    for (const auto& list : chars)
        for (const Element& e : list) note(e);
    for (const Combination& c : combinations) note(c.e);
    if (primaries.size() > 0xFFFE || secondaries.size() > 0xFE || tertiaries.size() > 0xFE)
        throw std::runtime_error("more weights than the sort's fields hold");
    const auto prank = ranks(primaries, 1);
    const auto srank = ranks(secondaries, 1);
    const auto trank = ranks(tertiaries, 1);
    auto weight = [&](const Element& e, uint16_t info) {
        GCSortWeight w{};
        w.primary = static_cast<uint16_t>(e.primary.empty() ? 0 : prank.at(e.primary));
        w.secondary = static_cast<uint8_t>(e.secondary ? srank.at(e.secondary) : 0);
        w.tertiary = static_cast<uint8_t>(e.tertiary ? trank.at(e.tertiary) : 0);
        w.info = info;
        return w;
    };
    // ICU's common secondary and tertiary weight.
    const uint32_t common_secondary = srank.count(5) ? srank.at(5) : 0;
    const uint32_t common_tertiary = trank.count(5) ? trank.at(5) : 0;

    GCSort head;
    std::memset(&head, 0, sizeof head);
    std::vector<GCSortWeight> table;
    std::vector<GCSortExp> expansion_records;
    for (unsigned row = 0; row < 256; ++row) {
        GCSortRow& r = head.row[row];
        bool any = false;
        bool computed = true;
        const uint8_t cls = char_class(static_cast<UChar32>(row << 8));
        uint32_t base = 0;
        for (unsigned lo = 0; lo < 256; ++lo) {
            const unsigned c = (row << 8) | lo;
            const std::vector<Element>& list = chars[c];
            any = any || !list.empty();
            if (list.size() != 1 || list[0].primary.empty() || char_class(static_cast<UChar32>(c)) != cls ||
                srank.count(list[0].secondary) == 0 || srank.at(list[0].secondary) != common_secondary ||
                trank.count(list[0].tertiary) == 0 || trank.at(list[0].tertiary) != common_tertiary) {
                computed = false;
                continue;
            }
            const uint32_t p = prank.at(list[0].primary);
            if (lo == 0) base = p;
            if (p != base + lo) computed = false;
        }
        if (!any) {
            r = GCSortRow{1, 0, {0, 0}, 0};
            continue;
        }
        if (computed && base + 255 <= 0xFFFF) {
            r = GCSortRow{2, cls, {0, 0}, base};
            continue;
        }
        r = GCSortRow{0, 0, {0, 0}, static_cast<uint32_t>(table.size())};
        for (unsigned lo = 0; lo < 256; ++lo) {
            const unsigned c = (row << 8) | lo;
            const std::vector<Element>& list = chars[c];
            const uint16_t info = static_cast<uint16_t>(char_class(static_cast<UChar32>(c)) << 10);
            if (list.empty()) {
                table.push_back(GCSortWeight{0, 0, 0, info});
            } else if (list.size() == 1) {
                table.push_back(weight(list[0], info));
            } else {
                table.push_back(GCSortWeight{0, 0, 0, static_cast<uint16_t>(info | 0x4000)});
                const GCSortWeight a = weight(list[0], 0);
                const GCSortWeight b = weight(list[1], 0);
                expansion_records.push_back(GCSortExp{static_cast<uint16_t>(c),
                                                      a.primary,
                                                      a.secondary,
                                                      a.tertiary,
                                                      b.primary,
                                                      b.secondary,
                                                      b.tertiary,
                                                      {0, 0, 0, 0}});
            }
        }
    }
    if (expansion_records.size() > 0xFFFF || combinations.size() > 0xFFFF)
        throw std::runtime_error("too many expansions or combinations");
    head.nexp = static_cast<uint16_t>(expansion_records.size());
    head.ncomb = static_cast<uint16_t>(combinations.size());
    head.wtoff = GC_SORT_FIXED_SIZE;
    head.expoff = static_cast<uint32_t>(GC_SORT_FIXED_SIZE + 6 * table.size());
    head.comboff = static_cast<uint32_t>(head.expoff + 14 * expansion_records.size());
    Bytes s1;
    append(s1, head);
    for (const GCSortWeight& w : table) append(s1, w);
    for (const GCSortExp& e : expansion_records) append(s1, e);
    for (const Combination& c : combinations) {
        const GCSortWeight w = weight(c.e, static_cast<uint16_t>(char_class(c.first) << 10));
        append(s1, GCSortComb{c.first, c.second, w.primary, w.secondary, w.tertiary, w.info});
    }
    Object object;
    object.type = GC_OBJ_SORT;
    object.id = def.id;
    object.name = def.name;
    object.sections = {s1};
    return object;
}

}  // namespace gen
