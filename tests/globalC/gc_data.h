// Locale data for the globalization library's tests: a temporary copy of the generated data, the
// generator run for files of older versions, and hand-made files for damaged data.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "gc.h"
#include "gc_internal.h"
#include "testbed.h"

namespace gctest {

namespace fs = std::filesystem;

// A temporary directory holding a copy of the generated locale data; removed on destruction.
class DataDir {
public:
    DataDir() {
        char tmpl[] = "/tmp/appbridge-locale-XXXXXX";
        if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
        path = tmpl;
        // Links to the generated files: a test replaces a file whole, never writes through a link.
        for (const auto& entry : fs::directory_iterator(APPBRIDGE_LOCALE_DATA_DIR))
            fs::create_symlink(entry.path(), fs::path(path) / entry.path().filename());
    }
    ~DataDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    DataDir(const DataDir&) = delete;
    DataDir& operator=(const DataDir&) = delete;

    std::string file(const std::string& name) const { return path + "/" + name; }
    std::string read(const std::string& name) const { return testbed::read_whole_file(file(name)); }
    void write(const std::string& name, const std::string& content) const {
        fs::remove(file(name));  // a link to the build's data is replaced, never written through
        testbed::write_whole_file(file(name), content);
    }

    // Runs the generator into this directory for the given names ("cp_0002,control"), each
    // written in the version given ("cp_0002=1").
    void generate(const std::string& only, const std::vector<std::string>& versions = {}) const {
        std::string command = std::string("'") + APPBRIDGE_LOCALE_GENERATOR + "' --out '" + path + "' --only " + only;
        for (const std::string& v : versions) command += " --version " + v;
        command = "ASAN_OPTIONS=detect_leaks=0 " + command;
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    std::string path;
};

inline void put32(std::string& b, size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }
inline void put16(std::string& b, size_t at, uint16_t v) { std::memcpy(&b[at], &v, 2); }
inline uint32_t get32(const std::string& b, size_t at) {
    uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

// A version 3 data file with the given sections following the header.
inline std::string data_file(const std::vector<std::string>& sections, uint32_t version = GC_VERSION_CURRENT) {
    std::string file(sizeof(GCFileHdr), '\0');
    put32(file, 0, GC_MAGIC);
    put32(file, 4, version);
    put16(file, 8, static_cast<uint16_t>(sections.size()));
    for (size_t i = 0; i < sections.size(); ++i) {
        put32(file, 12 + 8 * i, static_cast<uint32_t>(sections[i].size()));
        put32(file, 16 + 8 * i, static_cast<uint32_t>(file.size()));
        file += sections[i];
    }
    return file;
}

// One control row.
inline std::string control_row(uint8_t type, uint16_t id, const std::string& name) {
    std::string row(GC_CTL_ROW_SIZE, '\0');
    put16(row, 0, id);
    row[2] = static_cast<char>(type);
    std::memcpy(&row[4], name.data(), std::min<size_t>(name.size(), 36));
    return row;
}

// Section i (0-3) of a version 3 data file's content.
inline std::string section_of(const std::string& file, int i) {
    return file.substr(get32(file, 16 + 8 * i), get32(file, 12 + 8 * i));
}

// The bytes of section i of a loaded object.
inline std::string loaded_section(const GCObjEntry* entry, int i) {
    if (!entry || !entry->sect[i]) return {};
    return std::string(static_cast<const char*>(entry->sect[i]), gc::section_size(entry, i));
}

// The library started over the generated data (read only) for one test.
class Library : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(GCInit(APPBRIDGE_LOCALE_DATA_DIR, nullptr, nullptr, nullptr, GC_INIT_STRICT), GC_OK);
    }
    void TearDown() override {
        while (gc::state().count) GCTerm();
    }

public:
    static GCObjEntry* codepage(const char* name) {
        uint32_t rc = 0;
        GCObjEntry* e =
            GCGetObjFromName(gc::state().ocx, GC_OBJ_CODEPAGE, name, static_cast<uint32_t>(strlen(name)), 0, &rc);
        EXPECT_NE(e, nullptr) << name << " rc " << rc;
        return e;
    }
};

// A locale made by hand around one code page: what the conversions read of a locale (its code
// page, the single-byte and stateful flags, the last result).
inline GCLocale locale_of(GCObjEntry* codepage) {
    GCLocale loc{};
    loc.codepage = codepage;
    if (codepage) {
        const auto* cp = static_cast<const GCCp*>(codepage->sect[0]);
        if (cp->maxlen <= 1) loc.flags |= GC_LOC_SINGLEBYTE;
        if (cp->flags & GC_CP_STATEFUL) loc.flags |= GC_LOC_STATEFUL;
    }
    return loc;
}

// A terminated UTF-16 text.
inline std::u16string units_text(const GCUchar* text) {
    std::u16string s;
    for (size_t i = 0; text && text[i]; ++i) s.push_back(static_cast<char16_t>(text[i]));
    return s;
}

// What ICU says, through the generator: "case" or "special" lines.
inline std::vector<std::string> icu_facts(const std::string& what) {
    const std::string command =
        std::string("ASAN_OPTIONS=detect_leaks=0 '") + APPBRIDGE_LOCALE_GENERATOR + "' --facts " + what;
    FILE* pipe = popen(command.c_str(), "r");
    std::vector<std::string> lines;
    char line[128];
    while (pipe && fgets(line, sizeof line, pipe)) {
        std::string l = line;
        if (!l.empty() && l.back() == '\n') l.pop_back();
        lines.push_back(l);
    }
    if (pipe) pclose(pipe);
    return lines;
}

}  // namespace gctest
