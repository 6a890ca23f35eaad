// The agent's utility programs (answers from a fixture, call log, silence and failure) and its
// OS-services library libQELOS.so, run the way the plug-in runs them: through a shell pipe, and
// loaded from ./exe/libQELOS.so.
#include <dlfcn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "agent_utilities.h"
#include "testbed.h"

namespace {

// A command's combined result as the plug-in's pipe reader sees it.
struct PipeResult {
    std::string output;
    int status;
};

class AgentUtilitiesTest : public testbed::AgentHomeTest {
protected:
    void SetUp() override { testbed::use_agent_utilities(home); }

    void use_fixture(const std::string& content) { testbed::use_agent_fixture(home, content); }

    static PipeResult run(const std::string& command) {
        PipeResult r{"", -1};
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) return r;
        char buf[1023];
        while (fgets(buf, sizeof buf, pipe)) r.output += buf;
        int wait_status = pclose(pipe);
        r.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
        return r;
    }
};

constexpr const char* kFixture = R"(# what the agent answers in these tests
[orvagcpk]
out: Encryption type :   aes
err: warning: read from the fixture
out: Key aliases file name : /agent/keys/aliases.txt

[orvgetccp -name ACC1 -type OEBS]
out: "name" : "ACC1",
out: "data" : "QUJDRA==",

[orvgetccp]
err: profile not found
exit: 4

[orvagenv SaaS]
out: SaaS : off
[orvagenv QUIET]
)";

TEST_F(AgentUtilitiesTest, UtilitiesAnswerFromTheFixtureSectionOfTheirArguments) {
    use_fixture(kFixture);
    struct Case {
        const char* command;
        const char* output;
        int status;
    };
    const Case cases[] = {
        {"orvagcpk -p 2>& 1",
         "Encryption type :   aes\nwarning: read from the fixture\n"
         "Key aliases file name : /agent/keys/aliases.txt\n",
         0},
        {"orvagcpk -p 2>/dev/null", "Encryption type :   aes\nKey aliases file name : /agent/keys/aliases.txt\n", 0},
        {"orvgetccp -name ACC1 -type OEBS -TOKEN '!AES256GCM@local!abc'",
         "\"name\" : \"ACC1\",\n\"data\" : \"QUJDRA==\",\n", 0},
        {"orvgetccp -name ACC10 -type OEBS 2>&1", "profile not found\n", 4},
        {"orvagenv SaaS", "SaaS : off\n", 0},
        {"orvagenv QUIET", "", 0},
        {"orvagenv OTHER 2>&1", "orvagenv: no answer for 'OTHER'\n", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        PipeResult r = run(c.command);
        EXPECT_EQ(r.output, c.output);
        EXPECT_EQ(r.status, c.status);
    }
}

TEST_F(AgentUtilitiesTest, EveryCallIsLoggedEvenWhenItFails) {
    run("orvagcpk -p 2>/dev/null");  // no fixture yet
    use_fixture(kFixture);
    run("orvgetccp -name ACC1 -type OEBS");
    run("orvagenv SaaS");
    EXPECT_EQ(home.read_file("temp/calls.log"), "orvagcpk -p\norvgetccp -name ACC1 -type OEBS\norvagenv SaaS\n");
}

TEST_F(AgentUtilitiesTest, MissingOrBrokenFixtureFailsLoudly) {
    struct Case {
        const char* fixture;  // null: variable not set
        const char* complaint;
    };
    const Case cases[] = {
        {nullptr, "APPBRIDGE_AGENT_FIXTURE is not set"},
        {"[orvagenv SaaS]\nprint: on\n", "fixture line 2 not understood"},
        {"[orvagenv SaaS\n", "fixture line 1 has no ']'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.complaint);
        if (c.fixture)
            use_fixture(c.fixture);
        else
            unsetenv("APPBRIDGE_AGENT_FIXTURE");
        PipeResult r = run("orvagenv SaaS 2>&1");
        EXPECT_EQ(r.output, std::string("orvagenv: ") + c.complaint + "\n");
        EXPECT_EQ(r.status, 2);
    }
}

TEST_F(AgentUtilitiesTest, OsServicesLibraryAnswersTheProcessNameSetByTheTest) {
    std::filesystem::create_directories("exe");
    std::filesystem::copy_file(APPBRIDGE_QELOS_LIBRARY, "exe/libQELOS.so");
    void* lib = dlopen("./exe/libQELOS.so", RTLD_NOW);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto name = reinterpret_cast<char* (*)()>(dlsym(lib, "OS_PROC_name"));
    ASSERT_NE(name, nullptr);

    unsetenv("APPBRIDGE_PROC_NAME");
    EXPECT_STREQ(name(), program_invocation_short_name);
    setenv("APPBRIDGE_PROC_NAME", "ORVEXTRACT", 1);
    EXPECT_STREQ(name(), "ORVEXTRACT");
    const std::string long_name(100, 'N');  // given whole; cutting is the caller's business
    setenv("APPBRIDGE_PROC_NAME", long_name.c_str(), 1);
    EXPECT_EQ(std::string(name()), long_name);
    dlclose(lib);
}

}  // namespace
