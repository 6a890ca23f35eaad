// Helpers shared by the record modules of the agent protocol: the protocol-version comparison, the
// record prefix (type and size, decimal or base 26) with its bounds, the walk over a run of records,
// the record dispatch table and the masking of secret values in log lines.
#pragma once

#include <cstring>
#include <string>

#include "dsect_list.h"
#include "dsect_one.h"
#include "zpalist_internal.h"

namespace dsect {

// Protocol versions are compared as two-character texts ("01" < "06" < "10").
inline int version_compare(const char* version, const char* other) {
    return std::strncmp(version ? version : "", other, 2);
}
inline bool version_from(const char* v, const char* x) { return version_compare(v, x) >= 0; }
inline bool version_after(const char* v, const char* x) { return version_compare(v, x) > 0; }
inline bool version_up_to(const char* v, const char* x) { return version_compare(v, x) <= 0; }
inline bool version_before(const char* v, const char* x) { return version_compare(v, x) < 0; }

// A version gate of a layout row: open from `lo` (inclusive) up to `hi` (inclusive); null = unbounded.
struct Gate {
    const char* lo = nullptr;
    const char* hi = nullptr;
    bool open(const char* version) const {
        return (!lo || version_from(version, lo)) && (!hi || version_up_to(version, hi));
    }
};
constexpr Gate always{};
constexpr Gate from(const char* x) { return Gate{x, nullptr}; }
constexpr Gate up_to(const char* x) { return Gate{nullptr, x}; }
constexpr Gate between(const char* lo, const char* hi) { return Gate{lo, hi}; }

// Largest size field: four base-26 characters.
constexpr int kSizeFieldMax = 456975;
constexpr int kSizeDecimalMax = 9999;

// Writes the size field (the bytes after the prefix) into 4 characters; false when it has no
// encoding (negative or above kSizeFieldMax).
bool write_size_field(int size, char* out);
// Whole length (prefix included) of the record at pos; false when its prefix is unreadable or the
// record would pass the text's NUL.
bool record_length(const char* pos, int& length);
// Total length of up to `count` consecutive records at pos, stopping at the NUL; false when a record
// in the run is unreadable. `taken` gets the number of records measured.
bool run_length(const char* pos, int count, int& length, int& taken);

// The reader of a record type that the dispatch calls; null for types it does not read.
using Reader = CM_RC (*)(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
Reader reader_for(int type);

// Appends a field, value cut to the long limit (text) or refused past it (raw bytes). A loop that
// adds a run of fields to one record passes a zpalist::Builder of the record's fields, so that each
// field costs the same however many the record holds.
CM_RC append_field(DSECT_ONE_handle_typ* record, const char* name, const char* value, int value_size,
                   DSECT_FLD_typ type, zpalist::Builder* fields = nullptr);

// DSECT_LIST_append: packs the record and appends it to the message; a loop that appends many
// records passes a zpalist::Builder of the list's records.
CM_RC append_record(DSECT_LIST_handle_typ* list, DSECT_ONE_handle_typ* record, zpalist::Builder* records = nullptr);

// Copies a text into a field of `room` bytes, cut to room - 1 characters, and zeroes the rest of
// the field: the field always ends in a NUL.
inline void copy_cut(char* field, std::size_t room, const char* text) {
    std::memset(field, 0, room);
    if (text) std::memcpy(field, text, strnlen(text, room - 1));
}

// The value to write in a log line: "Private Data" for the names whose values are never shown.
const char* shown_value(const char* name, const char* value);

// The first two characters of CONFIG's PROTOCOL_VERSION, "01" when the key is absent.
std::string configured_version();

}  // namespace dsect

namespace dsect {
// True when the value text's leading number has an encoding in a number field of that type
// (DF_IVAR1, DF_I1..DF_I6); other types always fit. Logs nothing.
bool number_fits(DSECT_FLD_typ type, const char* value);
}  // namespace dsect
