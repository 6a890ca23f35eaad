// gclocgen: writes the globalization library's locale data ("control.nls" and one file per
// object) into a directory. Run by the build; tests run it to get files of older versions.
//   gclocgen --out DIR [--only NAME,...] [--version NAME=V]...
//   gclocgen --facts case|special
// NAME is "control" or a file stem such as "cp_0002"; V is 1, 2, 3.2 or 3 (the default).
// --facts prints what ICU says, for tests to hold the library against: "case" one line per BMP
// character with a simple case mapping (code, upper, lower), "special" the upper-case mappings
// that expand to several units (code and units). --help prints the usage; a missing or unknown
// argument prints it on standard error and ends with 2.
#include <unicode/uchar.h>
#include <unicode/uclean.h>
#include <unicode/ustring.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "gc.h"
#include "gen_catalog.h"
#include "gen_codepage.h"
#include "gen_file.h"
#include "gen_sort.h"
#include "gen_text.h"

namespace {

constexpr char kUsage[] =
    "usage: gclocgen --out DIR [--only NAME,...] [--version NAME=V]...\n"
    "       gclocgen --facts case|special\n";

// A command line the generator cannot run from.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Options {
    std::string facts;
    std::string out;
    std::set<std::string> only;
    std::map<std::string, gen::Format> versions;
};

std::string stem(uint8_t type, uint16_t id) {
    static const char* prefix[4] = {"la", "te", "cp", "so"};
    char name[16];
    std::snprintf(name, sizeof name, "%s_%04d", prefix[type], id);
    return name;
}

gen::Format parse_version(const std::string& v) {
    if (v == "1") return {1, 0};
    if (v == "2") return {2, 0};
    if (v == "3.2") return {3, 2};
    if (v == "3") return {3, 3};
    throw UsageError("unknown version " + v);
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg != "--facts" && arg != "--out" && arg != "--only" && arg != "--version")
            throw UsageError("unknown option " + arg);
        if (i + 1 >= argc) throw UsageError("missing value after " + arg);
        const std::string value = argv[++i];
        if (arg == "--facts") {
            if (value != "case" && value != "special") throw UsageError("unknown facts " + value);
            o.facts = value;
        } else if (arg == "--out") {
            o.out = value;
        } else if (arg == "--only") {
            std::stringstream list(value);
            for (std::string name; std::getline(list, name, ',');) o.only.insert(name);
        } else if (arg == "--version") {
            const size_t eq = value.find('=');
            if (eq == std::string::npos) throw UsageError("--version wants NAME=V");
            o.versions[value.substr(0, eq)] = parse_version(value.substr(eq + 1));
        }
    }
    if (o.out.empty() && o.facts.empty()) throw UsageError("--out or --facts is missing");
    return o;
}

gen::Format format_of(const Options& o, const std::string& name) {
    const auto it = o.versions.find(name);
    return it == o.versions.end() ? gen::Format{} : it->second;
}

int print_facts(const std::string& what) {
    for (UChar32 c = 0; c <= 0xFFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;
        if (what == "case") {
            if (u_toupper(c) != c || u_tolower(c) != c) std::printf("%04X %04X %04X\n", c, u_toupper(c), u_tolower(c));
        } else {  // "special"
            if (u_charType(c) == U_TITLECASE_LETTER) continue;
            UChar in[1] = {static_cast<UChar>(c)};
            UChar out[8];
            UErrorCode status = U_ZERO_ERROR;
            const int32_t n = u_strToUpper(out, 8, in, 1, "", &status);
            if (U_FAILURE(status) || n < 2) continue;
            std::printf("%04X", c);
            for (int32_t i = 0; i < n; ++i) std::printf(" %04X", out[i]);
            std::printf("\n");
        }
    }
    return 0;
}

int run(const Options& o) {
    if (!o.facts.empty()) return print_facts(o.facts);
    std::filesystem::create_directories(o.out);
    struct Pending {
        uint8_t type;
        uint16_t id;
        std::function<gen::Object()> make;
    };
    std::vector<Pending> pending;
    for (const auto& d : gen::languages())
        pending.push_back({GC_OBJ_LANGUAGE, d.id, [&d] { return gen::make_language(d); }});
    for (const auto& d : gen::territories())
        pending.push_back({GC_OBJ_TERRITORY, d.id, [&d] { return gen::make_territory(d); }});
    for (const auto& d : gen::codepages())
        pending.push_back({GC_OBJ_CODEPAGE, d.id, [&d] { return gen::make_codepage(d); }});
    for (const auto& d : gen::sorts()) pending.push_back({GC_OBJ_SORT, d.id, [&d] { return gen::make_sort(d); }});

    std::vector<gen::Object> written;
    for (const Pending& p : pending) {
        const std::string name = stem(p.type, p.id);
        if (!o.only.empty() && !o.only.count(name)) continue;
        gen::Object object;
        try {
            object = p.make();
        } catch (const std::exception& e) {
            // Expected for a page the file format cannot hold (GB18030): say what it means.
            std::fprintf(stderr,
                         "gclocgen: %s is not generated (%s); a locale that names it is refused, every "
                         "other object is written\n",
                         name.c_str(), e.what());
            continue;
        }
        gen::write_object(o.out, object, format_of(o, name));
        object.sections.clear();
        written.push_back(std::move(object));
    }
    if (o.only.empty() || o.only.count("control")) gen::write_control(o.out, written, format_of(o, "control"));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    int rc = 1;
    try {
        rc = run(parse(argc, argv));
    } catch (const UsageError& e) {
        std::fprintf(stderr, "gclocgen: %s\n%s", e.what(), kUsage);
        rc = 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "gclocgen: %s\n", e.what());
    }
    u_cleanup();
    return rc;
}
