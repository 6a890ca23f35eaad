// What the locale modules share: texts and words of language and territory objects (read within
// their sections), texts encoded into a code page (sized by what they become, shift codes
// included), and the library's blocks for a locale's texts.
#pragma once

#include <string>

#include "gc_internal.h"
#include "gccp_internal.h"

namespace gc {

// Modified bits of a locale.
constexpr uint32_t kModValues = 0;       // bits 0-2
constexpr uint32_t kModCurrency = 3;     // bits 3-8
constexpr uint32_t kModSigns = 9;        // bits 9-10
constexpr uint32_t kModSeparators = 11;  // bits 11-15
constexpr uint32_t kModTexts = 16;       // bits 16-23
// Set bits: separators 0-4, texts 5-12.
constexpr uint32_t kSetTexts = 5;

// Word `index` of an object's section 1 (0 when outside).
uint16_t section_word(const GCObjEntry* object, size_t index);
// Territory text 0-10 (abbreviation ... long date format), up to its terminator, within bounds.
std::u16string territory_text(const GCObjEntry* territory, unsigned index);

// UTF-16 text in a code page (shift codes on a stateful page, ending in the single-byte state).
std::string encode_text(const CodePage& cp, const std::u16string& text);
// Code-page text (to its terminator) in another code page.
std::string convert_text(const CodePage& from, const CodePage& to, const char* text);

// Blocks of the library's allocator holding a terminated copy; null when there is no memory.
char* new_text(const std::string& text);
GCUchar* new_units(const std::u16string& text);
std::u16string units_of(const GCUchar* text);

// The locale's text i (0-7) and its UTF-16 copy replaced, the old blocks freed.
bool replace_text(GCLocale* locale, unsigned i, const std::string& text, const std::u16string& units);

}  // namespace gc
