// Shared libraries attached at run time, the OS version text, and logical names.
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "os_lib.h"
#include "os_logical.h"
#include "testbed.h"

TEST(OsLib, AttachedLibraryResolvesAndItsSymbolsAreGlobal) {
    void* handle = nullptr;
    char err[OS_LIB_ERROR_LEN] = "";
    ASSERT_EQ(OS_LIB_attach(&handle, OSLIB_PROBE_PATH, err), CM_RC_OK) << err;
    ASSERT_NE(handle, nullptr);

    OS_LIB_funcptr_typ fn = nullptr;
    ASSERT_EQ(OS_LIB_resolve_function(handle, "oslib_probe_answer", &fn, err), CM_RC_OK);
    EXPECT_EQ(reinterpret_cast<int (*)(int)>(fn)(20), 41);
    // Libraries loaded later see the attached library's symbols.
    EXPECT_NE(dlsym(RTLD_DEFAULT, "oslib_probe_answer"), nullptr);

    EXPECT_EQ(OS_LIB_detach(handle, err), CM_RC_OK);
}

TEST(OsLib, FailuresComeBackAsText) {
    char err[OS_LIB_ERROR_LEN] = "";
    void* handle = nullptr;
    EXPECT_EQ(OS_LIB_attach(&handle, "/nonexistent/libnothing.so", err), CM_RC_FAIL);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(std::string(err).rfind("DLL '/nonexistent/libnothing.so' can not be loaded, error <", 0), 0u) << err;

    // Immediate binding: a library with an unresolved symbol is refused at attach, not at call.
    EXPECT_EQ(OS_LIB_attach(&handle, OSLIB_UNBOUND_PATH, err), CM_RC_FAIL);
    EXPECT_NE(std::string(err).find("oslib_symbol_nobody_defines"), std::string::npos) << err;

    OS_LIB_funcptr_typ fn = nullptr;
    EXPECT_EQ(OS_LIB_resolve_function(nullptr, "x", &fn, err), CM_RC_FAIL);
    EXPECT_STREQ(err, "Shared Lib handle is NULL");
    ASSERT_EQ(OS_LIB_attach(&handle, OSLIB_PROBE_PATH, err), CM_RC_OK);
    const std::string long_name(40, 'f');
    EXPECT_EQ(OS_LIB_resolve_function(handle, long_name.c_str(), &fn, err), CM_RC_FAIL);
    EXPECT_EQ(std::string(err), "Function '" + std::string(32, 'f') + "' can not be resolved");
    EXPECT_EQ(OS_LIB_detach(handle, err), CM_RC_OK);
    EXPECT_EQ(OS_LIB_detach(nullptr, err), CM_RC_FAIL);
}

TEST(OsLib, VersionTextIsCutToTheBuffer) {
    char text[8];
    OS_version(text, sizeof text);
    EXPECT_STREQ(text, "OS dll ");
    char whole[128];
    OS_version(whole, sizeof whole);
    EXPECT_STREQ(whole, "OS dll 8.0.00 - folders 2451, 2452 - Wed Sep 12 14:50:52 2012");
    EXPECT_EQ(OS_LIB_get_dll_version("OS"), nullptr);
}

TEST(OsLogical, SetThenGetAndTheRefusals) {
    char text[OS_LOGICAL_TEXT_LEN];
    LOGICALNAME_D_typ value = "untouched";
    ASSERT_EQ(OS_LOGICAL_set("APPBRIDGE_TEST_VAR", "a value", text), CM_RC_OK);
    EXPECT_STREQ(text, "APPBRIDGE_TEST_VAR=a value");
    text[0] = 'X';  // the environment keeps its own copy
    ASSERT_EQ(OS_LOGICAL_get("APPBRIDGE_TEST_VAR", "", value), CM_RC_OK);
    EXPECT_STREQ(value, "a value");

    struct Case {
        const char* name;
        const char* value;
    };
    for (const Case c : {Case{"", "v"}, Case{nullptr, "v"}, Case{"APPBRIDGE_TEST_VAR", ""}, Case{"A=B", "v"}})
        EXPECT_EQ(OS_LOGICAL_set(c.name, c.value, text), CM_RC_FAIL) << (c.name ? c.name : "null");

    std::strcpy(value, "untouched");
    EXPECT_EQ(OS_LOGICAL_get("", "", value), CM_RC_FAIL);
    EXPECT_EQ(OS_LOGICAL_get("APPBRIDGE_UNSET_VAR_XYZ", "", value), CM_RC_FAIL);
    EXPECT_STREQ(value, "untouched");
}

TEST(OsLogical, LongValuesAreCutToTheValueBuffer) {
    const std::string long_value(300, 'p');
    setenv("APPBRIDGE_LONG_VAR", long_value.c_str(), 1);
    LOGICALNAME_D_typ value;
    ASSERT_EQ(OS_LOGICAL_get("APPBRIDGE_LONG_VAR", "", value), CM_RC_OK);
    EXPECT_EQ(std::string(value), std::string(255, 'p'));
}
