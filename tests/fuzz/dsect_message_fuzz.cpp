// Arbitrary bytes as a received message: parsed into header and records, cut into records, decoded
// to its first record (with and without a frame in front), and measured and cut as runs of records
// from every offset of its first bytes. The buffer holds exactly the bytes and the terminating NUL.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dsect_list.h"
#include "quiet_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    DSECT_MSG_typ msg{text.data(), static_cast<unsigned>(size)};

    DSECT_LIST_handle_typ list;
    if (DSECT_LIST_mk_from_msg(&list, &msg) == CM_RC_OK) {
        DSECT_ONE_handle_typ record;
        DSECT_ONE_init(&record);
        for (int i = 0; i < 64; ++i) {
            const CM_RC rc = DSECT_LIST_getnext(&list, &record);
            DSECT_ONE_delete(&record); /* a failed read keeps what it read */
            if (rc != CM_RC_OK) break;
        }
    }
    DSECT_LIST_delete(&list);
    DSECT_LIST_unpack_msg(&list, &msg);
    DSECT_LIST_delete(&list);

    DSECT_HEADER_typ header;
    DSECT_ONE_handle_typ record;
    DSECT_LIST_msg_get_dsect(&msg, &header, &record);
    DSECT_ONE_delete(&record);
    DSECT_LIST_msg_get_dsect_all(&msg, &header, &record);
    DSECT_ONE_delete(&record);

    for (std::size_t start = 0; start < size && start < 4; ++start) {
        const std::size_t length = std::strlen(text.data() + start);
        for (int count : {1, 3, 999}) {
            int measured = 0;
            if (DSECT_LIST_msg_get_size(text.data() + start, count, &measured) == CM_RC_OK &&
                static_cast<std::size_t>(measured) > length)
                std::abort();
            char* pos = text.data() + start;
            if (DSECT_LIST_unpack("10", &pos, &list, count) == CM_RC_OK) {
                if (static_cast<std::size_t>(pos - (text.data() + start)) > length) std::abort();
                DSECT_LIST_delete(&list);
            }
        }
    }
    return 0;
}
