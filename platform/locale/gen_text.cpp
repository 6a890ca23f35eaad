// Builds language objects (names, day and month names, day-period markers) and territory objects
// (separators, grouping, currency, sign positions, time and date formats) from ICU's locale data.
#include "gen_text.h"

#include <unicode/dcfmtsym.h>
#include <unicode/decimfmt.h>
#include <unicode/dtfmtsym.h>
#include <unicode/locid.h>
#include <unicode/numfmt.h>
#include <unicode/smpdtfmt.h>
#include <unicode/ucurr.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "gc.h"
#include "gcbuild_internal.h"

namespace gen {
namespace {

std::u16string str(const icu::UnicodeString& s) {
    return std::u16string(s.getBuffer(), static_cast<size_t>(s.length()));
}

void check(UErrorCode status, const char* what) {
    if (U_FAILURE(status)) throw std::runtime_error(std::string("ICU: ") + what + ": " + u_errorName(status));
}

Object object_of(uint8_t type, uint16_t id, const char* name, const gc::build::Bytes& section) {
    Object o;
    o.type = type;
    o.id = id;
    o.name = name;
    o.sections = {section};
    return o;
}

// Spaces of every kind become a plain blank in format texts.
char16_t plain_space(char16_t c) { return c == 0x00A0 || c == 0x202F || c == 0x2009 ? u' ' : c; }

std::u16string grouping_text(int primary, int secondary) {
    std::string text;
    if (primary > 0) {
        text += std::to_string(primary) + ";";
        if (secondary > 0 && secondary != primary) text += std::to_string(secondary) + ";";
    }
    text += "0";
    return std::u16string(text.begin(), text.end());
}

// Whether the currency sign of a pattern stands before its digits, and a blank between them.
void currency_placement(const std::u16string& pattern, bool* precedes, bool* space) {
    const size_t sign = pattern.find(u'\u00A4');
    const size_t digit = pattern.find_first_of(u"#0");
    *precedes = sign != std::u16string::npos && digit != std::u16string::npos && sign < digit;
    *space = false;
    if (sign == std::u16string::npos || digit == std::u16string::npos) return;
    const size_t from = *precedes ? sign + 1 : pattern.find_last_of(u"#0") + 1;
    const size_t to = *precedes ? digit : sign;
    for (size_t i = from; i < to && i < pattern.size(); ++i)
        if (plain_space(pattern[i]) == u' ') *space = true;
}

// The language's own upper-casing (item 44) and lower-casing (item 45) pairs: where its full case
// mapping differs from the root one for a character, or for a character followed by U+0307, and
// the result has one or two units. Only Turkish, Azeri and Lithuanian have such rules.
void special_case_pairs(const char* language, std::vector<uint16_t> tables[2]) {
    if (std::strcmp(language, "tr") != 0 && std::strcmp(language, "az") != 0 && std::strcmp(language, "lt") != 0)
        return;
    auto convert = [](bool upper, const UChar* in, int32_t n, const char* locale, UChar* out) {
        UErrorCode status = U_ZERO_ERROR;
        const int32_t len =
            upper ? u_strToUpper(out, 8, in, n, locale, &status) : u_strToLower(out, 8, in, n, locale, &status);
        return U_SUCCESS(status) ? len : -1;
    };
    for (int t = 0; t < 2; ++t) {
        const bool upper = t == 0;
        for (UChar32 c = 0; c <= 0xFFFF; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF) continue;
            for (UChar second : {UChar(0), UChar(0x0307)}) {
                const UChar in[2] = {static_cast<UChar>(c), second};
                const int32_t n = second ? 2 : 1;
                UChar lang[8];
                UChar root[8];
                const int32_t ln = convert(upper, in, n, language, lang);
                const int32_t rn = convert(upper, in, n, "", root);
                if (ln < 1 || ln > 2 || (ln == rn && std::equal(lang, lang + ln, root))) continue;
                tables[t].insert(tables[t].end(),
                                 {static_cast<uint16_t>(c), second, lang[0], ln == 2 ? lang[1] : UChar(0)});
            }
        }
    }
}

}  // namespace

std::u16string strftime_pattern(const std::u16string& p) {
    std::u16string out;
    for (size_t i = 0; i < p.size();) {
        const char16_t c = p[i];
        if (c == u'\'') {  // quoted literal; '' is one quote
            size_t j = i + 1;
            if (j < p.size() && p[j] == u'\'') {
                out += u'\'';
                i = j + 1;
                continue;
            }
            for (; j < p.size(); ++j) {
                if (p[j] == u'\'') {
                    if (j + 1 < p.size() && p[j + 1] == u'\'') {
                        out += u'\'';
                        ++j;
                        continue;
                    }
                    break;
                }
                out += p[j] == u'%' ? std::u16string(u"%%") : std::u16string(1, plain_space(p[j]));
            }
            i = j + 1;
            continue;
        }
        if (!((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'))) {
            out += c == u'%' ? std::u16string(u"%%") : std::u16string(1, plain_space(c));
            ++i;
            continue;
        }
        size_t n = 1;
        while (i + n < p.size() && p[i + n] == c) ++n;
        i += n;
        switch (c) {
        case u'y':
        case u'Y':
        case u'u': out += n == 2 ? u"%y" : u"%Y"; break;
        case u'M':
        case u'L': out += n >= 4 ? u"%B" : n == 3 ? u"%b" : n == 2 ? u"%m" : u"%#m"; break;
        case u'd': out += n >= 2 ? u"%d" : u"%#d"; break;
        case u'E':
        case u'c':
        case u'e': out += n >= 4 ? u"%A" : u"%a"; break;
        case u'h':
        case u'K': out += n >= 2 ? u"%I" : u"%#I"; break;
        case u'H':
        case u'k': out += n >= 2 ? u"%H" : u"%#H"; break;
        case u'm': out += n >= 2 ? u"%M" : u"%#M"; break;
        case u's': out += n >= 2 ? u"%S" : u"%#S"; break;
        case u'a':
        case u'b':
        case u'B': out += u"%p"; break;
        case u'z':
        case u'Z':
        case u'v':
        case u'V':
        case u'O':
        case u'X':
        case u'x': out += u"%Z"; break;
        default: break;  // eras, quarters, weeks and the like have no place in these formats
        }
    }
    // A blank left at either end by a dropped field goes too.
    while (!out.empty() && out.back() == u' ') out.pop_back();
    while (!out.empty() && out.front() == u' ') out.erase(out.begin());
    return out;
}

Object make_language(const LanguageDef& def) {
    const icu::Locale locale(def.icu);
    UErrorCode status = U_ZERO_ERROR;
    icu::DateFormatSymbols symbols(locale, status);
    check(status, "date symbols");
    gc::build::Language lang;
    lang.territory = def.territory;
    lang.codepage = def.codepage;
    lang.sort = def.sort;
    std::string abbreviation = locale.getLanguage();
    for (char& c : abbreviation) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    lang.texts[0] = std::u16string(abbreviation.begin(), abbreviation.end());
    icu::UnicodeString name;
    lang.texts[1] = str(locale.getDisplayName(icu::Locale::getEnglish(), name));
    int32_t count = 0;
    const icu::UnicodeString* days =
        symbols.getWeekdays(count, icu::DateFormatSymbols::FORMAT, icu::DateFormatSymbols::WIDE);
    for (int i = 0; i < 7 && i + 1 < count; ++i) lang.texts[2 + i] = str(days[i + 1]);
    days = symbols.getWeekdays(count, icu::DateFormatSymbols::FORMAT, icu::DateFormatSymbols::ABBREVIATED);
    for (int i = 0; i < 7 && i + 1 < count; ++i) lang.texts[9 + i] = str(days[i + 1]);
    const icu::UnicodeString* months =
        symbols.getMonths(count, icu::DateFormatSymbols::FORMAT, icu::DateFormatSymbols::WIDE);
    for (int i = 0; i < 12 && i < count; ++i) lang.texts[16 + i] = str(months[i]);
    months = symbols.getMonths(count, icu::DateFormatSymbols::FORMAT, icu::DateFormatSymbols::ABBREVIATED);
    for (int i = 0; i < 12 && i < count; ++i) lang.texts[29 + i] = str(months[i]);
    const icu::UnicodeString* periods = symbols.getAmPmStrings(count);
    for (int i = 0; i < 2 && i < count; ++i) lang.texts[42 + i] = str(periods[i]);
    special_case_pairs(locale.getLanguage(), lang.special);
    return object_of(GC_OBJ_LANGUAGE, def.id, def.name, gc::build::language_section(lang));
}

Object make_territory(const TerritoryDef& def) {
    const icu::Locale locale(def.icu);
    UErrorCode status = U_ZERO_ERROR;
    icu::DecimalFormatSymbols symbols(locale, status);
    check(status, "number symbols");
    std::unique_ptr<icu::NumberFormat> number(icu::NumberFormat::createInstance(locale, status));
    check(status, "number format");
    std::unique_ptr<icu::NumberFormat> money(icu::NumberFormat::createCurrencyInstance(locale, status));
    check(status, "currency format");
    std::unique_ptr<icu::DateFormat> time(icu::DateFormat::createTimeInstance(icu::DateFormat::kMedium, locale));
    std::unique_ptr<icu::DateFormat> short_date(icu::DateFormat::createDateInstance(icu::DateFormat::kShort, locale));
    std::unique_ptr<icu::DateFormat> long_date(icu::DateFormat::createDateInstance(icu::DateFormat::kFull, locale));
    auto* number_df = dynamic_cast<icu::DecimalFormat*>(number.get());
    auto* money_df = dynamic_cast<icu::DecimalFormat*>(money.get());
    auto* time_sdf = dynamic_cast<icu::SimpleDateFormat*>(time.get());
    auto* short_sdf = dynamic_cast<icu::SimpleDateFormat*>(short_date.get());
    auto* long_sdf = dynamic_cast<icu::SimpleDateFormat*>(long_date.get());
    if (!number_df || !money_df || !time_sdf || !short_sdf || !long_sdf)
        throw std::runtime_error(std::string("ICU has no plain formats for ") + def.icu);

    icu::UnicodeString pattern;
    const std::u16string time_format = strftime_pattern(str(time_sdf->toPattern(pattern)));
    const std::u16string short_format = strftime_pattern(str(short_sdf->toPattern(pattern)));
    const std::u16string long_format = strftime_pattern(str(long_sdf->toPattern(pattern)));
    const std::u16string money_pattern = str(money_df->toPattern(pattern));

    auto symbol = [&](icu::DecimalFormatSymbols::ENumberFormatSymbol which) { return str(symbols.getSymbol(which)); };
    auto first_unit = [](const std::u16string& s, char16_t fallback) {
        return s.empty() ? fallback : plain_space(s[0]);
    };

    gc::build::Territory terr;
    terr.separators[0] = first_unit(symbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol), u'.');
    terr.separators[1] = first_unit(symbol(icu::DecimalFormatSymbols::kGroupingSeparatorSymbol), u',');
    // The third separator is the one between the parts of a short date.
    const size_t sep = short_format.find_first_not_of(u"%#abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
    terr.separators[2] = sep == std::u16string::npos ? u'/' : short_format[sep];
    terr.separators[3] = first_unit(symbol(icu::DecimalFormatSymbols::kMonetarySeparatorSymbol), u'.');
    terr.separators[4] = first_unit(symbol(icu::DecimalFormatSymbols::kMonetaryGroupingSeparatorSymbol), u',');

    const std::u16string currency = symbol(icu::DecimalFormatSymbols::kIntlCurrencySymbol);
    const int digits = currency.size() == 3 ? ucurr_getDefaultFractionDigits(currency.c_str(), &status) : 2;
    terr.values[0] = def.id;
    terr.values[1] = terr.values[2] = static_cast<uint16_t>(U_SUCCESS(status) && digits >= 0 ? digits : 2);
    bool precedes = false;
    bool space = false;
    currency_placement(money_pattern, &precedes, &space);
    terr.currency_flags = static_cast<uint8_t>((precedes ? 0x02 | 0x08 : 0) | (space ? 0x04 | 0x10 : 0));
    terr.positive_position = 1;
    terr.negative_position = 1;

    icu::UnicodeString name;
    terr.texts[0] =
        std::u16string(locale.getISO3Country(), locale.getISO3Country() + std::strlen(locale.getISO3Country()));
    terr.texts[1] = str(locale.getDisplayCountry(icu::Locale::getEnglish(), name));
    terr.texts[2] = grouping_text(number_df->getGroupingSize(), number_df->getSecondaryGroupingSize());
    terr.texts[3] = grouping_text(money_df->getGroupingSize(), money_df->getSecondaryGroupingSize());
    terr.texts[4] = symbol(icu::DecimalFormatSymbols::kCurrencySymbol);
    terr.texts[5] = currency;
    terr.texts[6] = u"";
    terr.texts[7] = symbol(icu::DecimalFormatSymbols::kMinusSignSymbol);
    terr.texts[8] = time_format;
    terr.texts[9] = short_format;
    terr.texts[10] = long_format;
    return object_of(GC_OBJ_TERRITORY, def.id, def.name, gc::build::territory_section(terr));
}

}  // namespace gen
