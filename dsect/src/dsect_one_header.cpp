/* The header record of an agent-protocol message: its layout by protocol version, writing, reading
 * and measuring it, the back-end name a reader derives from it (APPLMAP), and the process-wide
 * session instance id counter. */
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "dsect_internal.h"
#include "dsect_one.h"
#include "gm_param.h"
#include "gm_str.h"
#include "gm_time.h"
#include "os_diag.h"

namespace {

constexpr int kHeaderFixedLen = DSECT_PREFIX_LEN + 14 + 2 + 2 + 2 + 1 + 1 + 12 + 6;
constexpr int kCountedMax = 99;
constexpr char kDefaultBackEnd[] = "OS";

template <std::size_t N>
void copy_text(char (&target)[N], const char* text) {
    dsect::copy_cut(target, N, text);
}

bool has_task_class(const char* version) {
    return dsect::version_from(version, "04") && dsect::version_up_to(version, "05");
}
bool has_appl(const char* version) { return dsect::version_from(version, "06"); }

int counted_len(const char* text) {
    const int n = static_cast<int>(strnlen(text, kCountedMax));
    return 2 + n;
}

/* The counted texts of a header in wire order, as the version carries them. */
template <typename F>
void for_each_counted(DSECT_HEADER_typ* header, F&& f) {
    f(header->agent_name);
    f(header->orvhost);
    if (has_task_class(header->version)) f(header->task_class);
    if (has_appl(header->version)) {
        f(header->appl_type);
        f(header->appl_version);
    }
}

bool read_text(char* target, int room, char** pos, DSECT_FLD_typ type) {
    if (DSECT_FLD_get_char(target, pos, type, room) == CM_RC_OK) return true;
    DIAG_ERROR("error from DSECT_FLD_get_char");
    return false;
}

/* Looks a key up in one section of APPLMAP; the mapped value (up to 256 characters) on success. */
bool map_back_end(const char* section, const char* key, char* target, int room) {
    GM_PARAM_VALUE_typ value = {};
    if (GM_PARAM_subtable_get("APPLMAP", section, key, value) != CM_RC_OK) return false;
    dsect::copy_cut(target, static_cast<std::size_t>(room), value);
    return true;
}

std::mutex siid_mutex;
pid_t siid_seeded_by = 0;
long siid_counter = 0;

}  // namespace

extern "C" {

CM_RC DSECT_ONE_init_header(DSECT_HEADER_typ* header, const char* version, const char* appid, const char* sid,
                            const char* mid, const char* last, const char* siid, int seq, const char* agent_name,
                            const char* server_name, const char* task_class, const char* appl_type,
                            const char* appl_version) {
    if (!header) return CM_RC_FAIL;
    std::memset(header, 0, sizeof *header);
    header->dsect_type = DSECT_TYP_HEADER;
    GM_TIME_fmt_get_time(GM_TIME_FMT_YYYYMMDDHHMMSS, header->timestmp);
    copy_text(header->version, version);
    copy_text(header->appid, appid);
    copy_text(header->sid, sid);
    copy_text(header->mid, mid);
    copy_text(header->last, last);
    copy_text(header->siid, siid);
    header->seq = seq;
    copy_text(header->agent_name, agent_name);
    copy_text(header->orvhost, server_name);
    copy_text(header->task_class, task_class);
    copy_text(header->appl_type, appl_type);
    copy_text(header->appl_version, appl_version);
    return CM_RC_OK;
}

CM_RC DSECT_ONE_generate_siid(char* out_siid) {
    if (!out_siid) return CM_RC_FAIL;
    long counter = 0;
    {
        std::lock_guard<std::mutex> lock(siid_mutex);
        const pid_t pid = getpid();
        /* The counter is the process's own: a forked child seeds it again from its pid. */
        if (siid_seeded_by != pid) {
            std::srand(static_cast<unsigned>(pid));
            siid_counter = std::rand();
            siid_seeded_by = pid;
        }
        if (siid_counter > 99999) siid_counter = 1;
        counter = ++siid_counter;
    }
    char text[32];
    std::snprintf(text, sizeof text, "1%06ld%05ld", static_cast<long>(getpid()) % 1000000, counter % 100000);
    std::memcpy(out_siid, text, sizeof(DSECT_HEADER_SIID_typ));
    return CM_RC_OK;
}

CM_RC DSECT_ONE_evallen_header(DSECT_HEADER_typ* header, int* len) {
    if (!header || !len) return CM_RC_FAIL;
    int total = kHeaderFixedLen;
    for_each_counted(header, [&](const char* text) { total += counted_len(text); });
    *len = total;
    return CM_RC_OK;
}

CM_RC DSECT_ONE_set_header(DSECT_HEADER_typ* header, char** pos) {
    if (!header || !pos || !*pos) return CM_RC_FAIL;
    int length = 0;
    DSECT_ONE_evallen_header(header, &length);
    if (DSECT_FLD_set_int(pos, DSECT_TYP_HEADER, DF_I2) != CM_RC_OK ||
        DSECT_FLD_set_int(pos, length - DSECT_PREFIX_LEN, DF_I4) != CM_RC_OK) {
        DIAG_ERROR("error from DSECT_FLD_set_int");
        return CM_RC_FAIL;
    }
    const struct {
        const char* text;
        DSECT_FLD_typ type;
    } fixed[] = {{header->timestmp, DF_C14}, {header->version, DF_C2}, {header->appid, DF_C2}, {header->sid, DF_C2},
                 {header->mid, DF_C1},       {header->last, DF_C1},    {header->siid, DF_C12}};
    for (const auto& f : fixed)
        if (DSECT_FLD_set_char(pos, f.text, f.type) != CM_RC_OK) {
            DIAG_ERROR("error from DSECT_FLD_set_char");
            return CM_RC_FAIL;
        }
    if (DSECT_FLD_set_int(pos, header->seq, DF_I6) != CM_RC_OK) {
        DIAG_ERROR("error from DSECT_FLD_set_int");
        return CM_RC_FAIL;
    }
    bool ok = true;
    for_each_counted(header, [&](const char* text) {
        if (ok && DSECT_FLD_set_char(pos, text, DF_VAR2) != CM_RC_OK) {
            DIAG_ERROR("error from DSECT_FLD_set_char");
            ok = false;
        }
    });
    return ok ? CM_RC_OK : CM_RC_FAIL;
}

CM_RC DSECT_ONE_pack_header(DSECT_HEADER_typ* header, char* buffer, int* size) {
    if (!header || !buffer || !size) return CM_RC_FAIL;
    int length = 0;
    if (DSECT_ONE_evallen_header(header, &length) != CM_RC_OK) {
        DIAG_ERROR("DSECT_ONE_pack_header: error from DSECT_ONE_evallen_header");
        return CM_RC_FAIL;
    }
    std::memset(buffer, 0, static_cast<std::size_t>(length));
    *size = length;
    char* pos = buffer;
    return DSECT_ONE_set_header(header, &pos);
}

CM_RC DSECT_ONE_unpack_header(DSECT_HEADER_typ* header, char* buffer) {
    if (!header || !buffer) return CM_RC_FAIL;
    std::memset(header, 0, sizeof *header);
    header->dsect_type = DSECT_TYP_HEADER;
    GM_TIME_fmt_get_time(GM_TIME_FMT_YYYYMMDDHHMMSS, header->timestmp);
    if (strnlen(buffer, DSECT_PREFIX_LEN) < DSECT_PREFIX_LEN) {
        DIAG_ERROR("no dsect data");
        return CM_RC_FAIL;
    }
    char* pos = buffer + DSECT_PREFIX_LEN;
    char stamp[sizeof header->timestmp];
    if (!read_text(stamp, sizeof stamp, &pos, DF_C14)) return CM_RC_FAIL;
    copy_text(header->timestmp, stamp);
    if (!read_text(header->version, sizeof header->version, &pos, DF_C2) ||
        !read_text(header->appid, sizeof header->appid, &pos, DF_C2) ||
        !read_text(header->sid, sizeof header->sid, &pos, DF_C2) ||
        !read_text(header->mid, sizeof header->mid, &pos, DF_C1) ||
        !read_text(header->last, sizeof header->last, &pos, DF_C1) ||
        !read_text(header->siid, sizeof header->siid, &pos, DF_C12))
        return CM_RC_FAIL;
    if (DSECT_FLD_get_int(&header->seq, &pos, DF_I6) != CM_RC_OK) {
        DIAG_ERROR("error from DSECT_FLD_get_int");
        return CM_RC_FAIL;
    }
    if (!read_text(header->agent_name, sizeof header->agent_name, &pos, DF_VAR2) ||
        !read_text(header->orvhost, sizeof header->orvhost, &pos, DF_VAR2))
        return CM_RC_FAIL;
    if (has_task_class(header->version)) {
        if (!read_text(header->task_class, sizeof header->task_class, &pos, DF_VAR2)) return CM_RC_FAIL;
        GM_STR_toupper(GM_STR_unpad(header->task_class));
    } else if (has_appl(header->version)) {
        if (!read_text(header->appl_type, sizeof header->appl_type, &pos, DF_VAR2) ||
            !read_text(header->appl_version, sizeof header->appl_version, &pos, DF_VAR2))
            return CM_RC_FAIL;
    }
    if (header->appl_type[0] == '\0') copy_text(header->appl_type, kDefaultBackEnd);
    if (DSECT_ONE_get_be(header) != CM_RC_OK) {
        DIAG_TRACE(4, "Failed to determine Back End name - try config table");
        GM_PARAM_VALUE_typ value = {};
        if (GM_PARAM_get("CONFIG", "CM_APPL_TYPE", value) == CM_RC_OK) {
            copy_text(header->appl_type, value);
        } else {
            DIAG_TRACE(4, "No Back End name found - use default '%s'", kDefaultBackEnd);
            copy_text(header->appl_type, kDefaultBackEnd);
        }
    }
    if (DIAG_debug_level() >= 6 || DIAG_buffered_level() >= 6) {
        DIAG_set_active_level(6);
        DSECT_ONE_print_header(header);
        DIAG_set_active_level(0);
    }
    return CM_RC_OK;
}

CM_RC DSECT_ONE_get_be(DSECT_HEADER_typ* header) {
    if (!header) return CM_RC_FAIL;
    if (has_appl(header->version) && header->appl_type[0] != '\0') {
        map_back_end("APPLTYPE", header->appl_type, header->appl_type, sizeof header->appl_type);
        return CM_RC_OK;
    }
    if (std::strcmp(header->task_class, "DIS") == 0 || std::strcmp(header->task_class, "DEC") == 0) return CM_RC_FAIL;
    if (dsect::version_compare(header->version, "04") == 0 && header->task_class[0] != '\0') {
        if (!map_back_end("TASKCLASS", header->task_class, header->appl_type, sizeof header->appl_type))
            copy_text(header->appl_type, header->task_class);
        return CM_RC_OK;
    }
    return CM_RC_FAIL;
}

CM_RC DSECT_ONE_print_header(DSECT_HEADER_typ* header) {
    if (!header) return CM_RC_FAIL;
    DIAG_printf("DSECT header begin");
    DIAG_printf("\tdsect_type   = '%02d'", static_cast<int>(header->dsect_type));
    DIAG_printf("\ttimestmp     = '%s'", header->timestmp);
    DIAG_printf("\tversion      = '%s'", header->version);
    DIAG_printf("\tappid        = '%s'", header->appid);
    DIAG_printf("\tsid          = '%s'", header->sid);
    DIAG_printf("\tmid          = '%s'", header->mid);
    DIAG_printf("\tlast         = '%s'", header->last);
    DIAG_printf("\tsiid         = '%s'", header->siid);
    DIAG_printf("\tseq          = '%d'", header->seq);
    DIAG_printf("\tagent_name   = '%s'", header->agent_name);
    DIAG_printf("\torvhost      = '%s'", header->orvhost);
    DIAG_printf("\ttask_class   = '%s'", header->task_class);
    DIAG_printf("\tappl_type    = '%s'", header->appl_type);
    DIAG_printf("\tappl_version = '%s'", header->appl_version);
    DIAG_printf("DSECT header end");
    return CM_RC_OK;
}

}  // extern "C"
