// Code-page conversion of whole strings (GCConvertString on 1 MB texts) against iconv converting the
// same bytes between the same character sets. Each pair first checks that both give the same
// output, so the figures compare equal work.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "bench_support.h"
#include "gc.h"
#include "gc_internal.h"

namespace {

constexpr size_t kTextBytes = 1 << 20;

// Prose with accented letters every few words: what a Western European site's texts look like.
const char kLatinProse[] =
    "Die Größe des Verzeichnisses übersteigt die Grenze; le fichier déjà créé à Genève reste "
    "intact, señor Muñoz. Façade, naïve, coöperation: 42 Einträge, 17 gelöscht. ";
// Japanese with ASCII digits, punctuation and a half-width katakana word.
const char kJapaneseProse[] =
    "日本語のテキストを変換します。ファイル名は report_2026.txt です。"
    "処理件数: 1024 件、エラー 3 件。ｶﾀｶﾅ も含みます。東京都千代田区 ";

struct Case {
    const char* from_page;  // code page names of the library
    const char* to_page;
    const char* from_set;  // iconv's names
    const char* to_set;
    const char* prose;  // UTF-8
};

const Case kLatin1ToUtf8{"Latin1", "UTF-8", "ISO-8859-1", "UTF-8", kLatinProse};
const Case kUtf8ToLatin1{"UTF-8", "Latin1", "UTF-8", "ISO-8859-1", kLatinProse};
const Case kShiftJisToUtf8{"Shift_JIS", "UTF-8", "SHIFT_JIS", "UTF-8", kJapaneseProse};
const Case kUtf8ToShiftJis{"UTF-8", "Shift_JIS", "UTF-8", "SHIFT_JIS", kJapaneseProse};
const Case kUtf8ToUtf8{"UTF-8", "UTF-8", "UTF-8", "UTF-8", kJapaneseProse};

std::string iconv_all(iconv_t cd, const std::string& in) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string out(4 * in.size() + 16, '\0');
    char* ip = const_cast<char*>(in.data());
    size_t il = in.size();
    char* op = out.data();
    size_t ol = out.size();
    if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1)) throw std::runtime_error("iconv failed");
    out.resize(out.size() - ol);
    return out;
}

class Charsets {
public:
    Charsets(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error(std::string("no iconv for ") + from);
    }
    ~Charsets() { iconv_close(cd_); }
    Charsets(const Charsets&) = delete;
    Charsets& operator=(const Charsets&) = delete;
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

// About 1 MB of the case's source text, cut after a whole line of prose.
std::string source_text(const Case& c) {
    std::string utf8;
    while (utf8.size() < kTextBytes) utf8 += c.prose;
    if (std::strcmp(c.from_set, "UTF-8") == 0) return utf8;
    const Charsets to_source(c.from_set, "UTF-8");
    return iconv_all(to_source.get(), utf8);
}

GCObjEntry* codepage(const char* name) {
    static const bool ready = GCInit(APPBRIDGE_LOCALE_DATA_DIR, nullptr, nullptr, nullptr, GC_INIT_STRICT) == GC_OK;
    if (!ready) return nullptr;
    uint32_t rc = 0;
    return GCGetObjFromName(gc::state().ocx, GC_OBJ_CODEPAGE, name, static_cast<uint32_t>(std::strlen(name)), 0, &rc);
}

GCLocale locale_of(GCObjEntry* page) {
    GCLocale loc{};
    loc.codepage = page;
    const auto* cp = static_cast<const GCCp*>(page->sect[0]);
    if (cp->maxlen <= 1) loc.flags |= GC_LOC_SINGLEBYTE;
    return loc;
}

void BM_CodePage(benchmark::State& state, const Case& c) {
    GCObjEntry* from_page = codepage(c.from_page);
    GCObjEntry* to_page = codepage(c.to_page);
    if (!from_page || !to_page) {
        state.SkipWithError("locale data missing");
        return;
    }
    GCLocale from = locale_of(from_page);
    GCLocale to = locale_of(to_page);
    const std::string text = source_text(c);
    std::string out(4 * text.size() + 16, '\0');
    const Charsets reference(c.to_set, c.from_set);
    const int n = GCConvertString(&to, out.data(), static_cast<int>(out.size()), &from, text.data(),
                                  static_cast<int>(text.size()), 0);
    if (n < 0 || out.compare(0, static_cast<size_t>(n), iconv_all(reference.get(), text)) != 0) {
        state.SkipWithError("output differs from iconv's");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(GCConvertString(&to, out.data(), static_cast<int>(out.size()), &from, text.data(),
                                                 static_cast<int>(text.size()), 0));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_Iconv(benchmark::State& state, const Case& c) {
    const std::string text = source_text(c);
    const Charsets cd(c.to_set, c.from_set);
    std::string out(4 * text.size() + 16, '\0');
    for (auto _ : state) {
        iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
        char* ip = const_cast<char*>(text.data());
        size_t il = text.size();
        char* op = out.data();
        size_t ol = out.size();
        benchmark::DoNotOptimize(iconv(cd.get(), &ip, &il, &op, &ol));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// Each case as a pair of benchmarks, BM_CodePage/<name> and BM_Iconv/<name>, and a figure.
struct Figure {
    const char* name;
    const char* label;
    const Case& conversion;
    double aim;
};

const Figure kFigures[] = {
    {"Latin1ToUtf8", "Latin-1 -> UTF-8", kLatin1ToUtf8, 1.5},
    {"Utf8ToLatin1", "UTF-8 -> Latin-1", kUtf8ToLatin1, 1.5},
    {"ShiftJisToUtf8", "Shift_JIS -> UTF-8", kShiftJisToUtf8, 2},
    {"Utf8ToShiftJis", "UTF-8 -> Shift_JIS", kUtf8ToShiftJis, 2},
    {"Utf8ToUtf8", "UTF-8 -> UTF-8", kUtf8ToUtf8, 1.5},
};

const bool kRegistered = [] {
    for (const Figure& f : kFigures) {
        const std::string subject = std::string("BM_CodePage/") + f.name;
        const std::string baseline = std::string("BM_Iconv/") + f.name;
        benchmark::RegisterBenchmark(subject.c_str(), BM_CodePage, f.conversion);
        benchmark::RegisterBenchmark(baseline.c_str(), BM_Iconv, f.conversion);
        bench::Ratio(std::string("code-page conversion ") + f.label + " of 1 MB / iconv", subject, baseline,
                     bench::at_most(f.aim));
    }
    return true;
}();

}  // namespace
