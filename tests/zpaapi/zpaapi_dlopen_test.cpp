// The agent loads the plug-in with dlopen and looks the attribute-list utilities up by their C
// names; this test does the same with the built library.
#include <dlfcn.h>

#include <string>

#include <gtest/gtest.h>

TEST(PluginExports, AttributeListUtilitiesAreFoundByTheirCNames) {
    const std::string path = std::string(APPBRIDGE_BINARY_DIR) + "/libappbridge.so";
    void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    const char* names[] = {
        "ZPAAPI_UTILS_AttrListValueGet",
        "ZPAAPI_UTILS_AttrListValueGetNoAutoedits",
        "ZPAAPI_UTILS_AttrListValueGetLast",
        "ZPAAPI_UTILS_AttrListResetIndex",
        "ZPAAPI_UTILS_AttrListValueGetNext",
        "ZPAAPI_UTILS_AttrListValueGetPrev",
        "ZPAAPI_UTILS_AttrListValueGetSubname",
        "ZPAAPI_UTILS_AttrListResetIndexSubname",
        "ZPAAPI_UTILS_AttrListValueGetNextSubname",
        "ZPAAPI_UTILS_AttrListValueGetPrevSubname",
        "ZPAAPI_UTILS_AttrListValueGetPrefix",
        "ZPAAPI_UTILS_AttrListResetIndexPrefix",
        "ZPAAPI_UTILS_AttrListValueGetNextPrefix",
        "ZPAAPI_UTILS_AttrListValueGetPrevPrefix",
        "ZPAAPI_UTILS_AttrListValueSizeGet",
        "ZPAAPI_UTILS_AttrListReset",
        "ZPAAPI_UTILS_AttrListNext",
        "ZPAAPI_UTILS_AttrListValueSet",
        "ZPAAPI_UTILS_AttrListAppend_Value2Attr",
        "ZPAAPI_UTILS_AttrListAppend_Attr2Attr",
        "ZPAAPI_UTILS_list2attr",
        "ZPAAPI_UTILS_param2attr",
        "ZPAAPI_UTILS_xmlBuff2attr",
        "ZPAAPI_utils_release_attr",
        "ZPAAPI_utils_release_whole_attr",
        "ZPAAPI_utils_print_attr",
        "ZPAPI_UTILS_serialize_attr_list",
        "ZPAPI_UTILS_deserialize_attr_list",
        "ZPAAPI_UTILS_ErrorSet",
        "ZPAAPI_UTILS_ErrorCodeGet",
        "ZPAAPI_UTILS_DiagPrintf",
        "ZPA_version",
    };
    for (const char* name : names) EXPECT_NE(dlsym(lib, name), nullptr) << name;

    // A call through the looked-up address behaves as the linked one.
    using ErrorSet = int (*)(void*, unsigned int, const char*, ...);
    auto error_set = reinterpret_cast<ErrorSet>(dlsym(lib, "ZPAAPI_UTILS_ErrorSet"));
    ASSERT_NE(error_set, nullptr);
    struct {
        unsigned int code;
        char text[999];
    } error{};
    EXPECT_EQ(error_set(&error, 7u, "%s-%d", "x", 1), 0);
    EXPECT_EQ(error.code, 7u);
    EXPECT_STREQ(error.text, "x-1");
    dlclose(lib);
}
