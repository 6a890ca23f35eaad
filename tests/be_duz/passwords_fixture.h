// Test bed of the stored-password modules: an agent home whose agent utilities answer from a
// fixture (encryption type, key-aliases file, central profiles, service mode), key files for the
// local and global AES keys, table OEBS with CM_DIR, and small helpers for attribute lists and
// the accounts file.
#pragma once

#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "agent_utilities.h"
#include "be_def.h"
#include "gm_param.h"
#include "testbed.h"

namespace pwtest {

constexpr const char* kLocalKey = "local key material one";
constexpr const char* kGlobalKey = "global key material";

// An attribute list over storage of the test's own (nothing for the library to release).
class Attrs {
public:
    Attrs(std::initializer_list<std::pair<std::string, std::string>> rows) {
        for (const auto& [n, v] : rows) {
            names_.push_back(n);
            values_.push_back(v);
        }
        for (std::size_t i = 0; i < names_.size(); ++i)
            attrs_.push_back(
                ZPAAttr{names_[i].data(), static_cast<unsigned short>(values_[i].size() + 1), values_[i].data()});
        list.Count = static_cast<int>(attrs_.size());
        list.Attributes = attrs_.data();
        list.Curr = 0;
    }
    Attrs(const Attrs&) = delete;
    Attrs& operator=(const Attrs&) = delete;
    ZPAAttrList list{};

private:
    std::deque<std::string> names_;
    std::deque<std::string> values_;
    std::vector<ZPAAttr> attrs_;
};

// A loaded sectioned file, released on destruction.
struct Sections {
    ZPALIST_handle_typ h{};
    Sections() { ZPALIST_init(&h); }
    ~Sections() { GM_PARAM_subtable_list_clear(&h); }
    bool load(const std::string& path) { return GM_PARAM_subtable_load_file(&h, path.c_str()) == CM_RC_OK; }
    std::string get(const std::string& section, const std::string& key) {
        char value[4096] = "<missing>";
        GM_PARAM_subtable_list_get(&h, section.c_str(), key.c_str(), value, sizeof value);
        return value;
    }
};

class PasswordsTest : public testbed::AgentHomeTest {
protected:
    void SetUp() override {
        testbed::use_agent_utilities(home);
        unsetenv("APPBRIDGE_ORVSECURE_FAIL");
        home.write_file("keys/aliases.txt", "local = local.key\nglobal = global.key\n");
        home.write_file("keys/local.key", kLocalKey);
        home.write_file("keys/global.key", kGlobalKey);
        home.write_file("cm/DUZ/bin/.keep", "");
        home.write_file("cm/DUZ/ccp_cache/.keep", "");
        home.write_file("data/OEBS.dat", "CM_DIR " + home.path() + "/cm/DUZ/bin\n");
        use_agent("aes");
    }

    void TearDown() override {
        BE_DUZ_clean_encyption_info(&err);
        GM_PARAM_clear();  // the process cache holds table OEBS
    }

    // The agent's answers: its encryption type, plus any further fixture sections.
    void use_agent(const std::string& type, const std::string& more = "") {
        std::string fixture = "[orvagcpk]\nout: Encryption type : " + type +
                              "\nout: Key aliases file name : " + home.path() + "/keys/aliases.txt\n\n" + more +
                              "\n[orvagenv SaaS]\nout: SaaS : off\n";
        testbed::use_agent_fixture(home, fixture);
    }

    std::string calls() const { return testbed::agent_calls(home); }

    // In-place encryption and decryption of a text through the dispatch.
    ZPARC encrypt(std::string& text, EncryptionKey key) {
        char buf[BE_DUZ_PASSWORD_SIZE] = {};
        std::snprintf(buf, sizeof buf, "%s", text.c_str());
        const ZPARC rc = BE_DUZ_PKM_encrypt(buf, sizeof buf, key, &err);
        text = buf;
        return rc;
    }
    ZPARC decrypt(std::string& text, EncryptionKey key) {
        char buf[BE_DUZ_PASSWORD_SIZE] = {};
        std::snprintf(buf, sizeof buf, "%s", text.c_str());
        const ZPARC rc = BE_DUZ_PKM_decrypt(buf, sizeof buf, key, &err);
        text = buf;
        return rc;
    }
    std::string encrypted(const std::string& plain, EncryptionKey key) {
        std::string text = plain;
        EXPECT_EQ(encrypt(text, key), 0) << err.text;
        return text;
    }
    std::string decrypted(std::string text, EncryptionKey key = CHECK_PREFIX) {
        if (decrypt(text, key) != 0) return "<fails: " + std::string(err.text) + ">";
        return text;
    }

    ZPAError err{};
};

}  // namespace pwtest
