/* A program built against an installed appbridge, as an agent or another caller builds: it
 * includes the interface headers from include/appbridge, links libappbridge alone, and goes through
 * the plug-in's life cycle without a connection: ZPAAPI_Init, an attribute list filled and read
 * through the library and released through the entry point the agent uses, ZPAAPI_Term. Prints the
 * library's and the plug-in's version texts and ends with 0 when every call did what it should. */
#include <stdio.h>
#include <string.h>

#include "be_zpaapi.h"
#include "zpaapi.h"

static int fail(const char* what) {
    fprintf(stderr, "consumer: %s\n", what);
    return 1;
}

int main(void) {
    char version[128];
    ZPA_version(version, (int)sizeof version);
    if (version[0] == '\0') return fail("no version text");
    char banner[128];
    OEBS_version(banner, (int)sizeof banner);
    if (banner[0] == '\0') return fail("no banner");

    ZPABeHandle backend;
    memset(&backend, 0, sizeof backend);
    ZPAError error;
    memset(&error, 0, sizeof error);
    if (ZPAAPI_Init(&backend, NULL, &error) != ZPA_SUCCESS) return fail("ZPAAPI_Init failed");

    ZPAAttrList list = {0, NULL, 0};
    if (ZPAAPI_UTILS_AttrListAppend_Value2Attr(&list, "ORDERNO", "0001A") != ZPA_SUCCESS)
        return fail("the attribute was not appended");
    char* value = NULL;
    if (ZPAAPI_UTILS_AttrListValueGet(&list, "ORDERNO", &value) != ZPA_SUCCESS || value == NULL ||
        strcmp(value, "0001A") != 0)
        return fail("the attribute was not read back");
    if (ZPAAPI_ReleaseAttr(&list) != ZPA_SUCCESS || list.Count != 0) return fail("the list was not released");

    if (ZPAAPI_Term(&backend, &error) != ZPA_SUCCESS) return fail("ZPAAPI_Term failed");
    printf("consumer: %s; %s\n", version, banner);
    return 0;
}
