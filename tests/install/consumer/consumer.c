/* A program built against an installed appbridge, as an agent or another caller builds: it
 * includes the interface headers from include/appbridge, links libappbridge alone, and fills,
 * reads and releases an attribute list through the library. Prints the library's version text and
 * ends with 0 when every call did what it should. */
#include <stdio.h>
#include <string.h>

#include "zpaapi.h"

static int fail(const char* what) {
    fprintf(stderr, "consumer: %s\n", what);
    return 1;
}

int main(void) {
    char version[128];
    ZPA_version(version, (int)sizeof version);
    if (version[0] == '\0') return fail("no version text");

    ZPAAttrList list = {0, NULL, 0};
    if (ZPAAPI_UTILS_AttrListAppend_Value2Attr(&list, "ORDERNO", "0001A") != ZPA_SUCCESS)
        return fail("the attribute was not appended");
    char* value = NULL;
    if (ZPAAPI_UTILS_AttrListValueGet(&list, "ORDERNO", &value) != ZPA_SUCCESS || value == NULL ||
        strcmp(value, "0001A") != 0)
        return fail("the attribute was not read back");
    if (ZPAAPI_utils_release_attr(&list) != ZPA_SUCCESS || list.Count != 0) return fail("the list was not released");

    printf("consumer: %s\n", version);
    return 0;
}
