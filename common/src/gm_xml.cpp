/* XML writer and readers for the UVSCM request and answer texts. The writer appends escaped text
 * to a caller's buffer; the readers run the XML parser with their state in a per-call context, so
 * two threads can parse at once, and copy into caller buffers only within the sizes given. */
#include "gm_xml.h"

#include <expat.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "gc_wrapper.h"
#include "gm_bytes_internal.h"
#include "os_diag.h"
#include "zpalist_internal.h"

namespace {

constexpr const char* kDeclarationUtf8 = "<?xml version='1.0' encoding='UTF-8'?>";
constexpr const char* kDeclarationLatin1 = "<?xml version='1.0' encoding='iso-8859-1'?>";
constexpr const char* kRoot = "UVSCM";
// Tags of a duplicated element are built for names of at most this many characters.
constexpr size_t kDuplicateNameMax = 60;

// ---------------------------------------------------------------------------------------------
// Writer

// Appends to the end of a NUL-terminated buffer, keeping it terminated.
class Appender {
public:
    explicit Appender(char* buffer) : end_(buffer + std::strlen(buffer)) { *end_ = '\0'; }
    void put(const char* text) {
        size_t n = std::strlen(text);
        std::memcpy(end_, text, n + 1);
        end_ += n;
    }
    void put(char c) {
        *end_++ = c;
        *end_ = '\0';
    }

private:
    char* end_;
};

enum class Escape {
    Text,            // element text: control characters, double quote, & < >
    AttributeValue,  // a value between apostrophes: as text, plus the apostrophe
    AttributeText,   // ready-made attributes: control characters and & < >; quotes kept
};

void put_escaped(Appender& out, unsigned char c, Escape mode) {
    char code[8];
    switch (c) {
    case '\t':
    case '\n':
    case '\r':
        std::snprintf(code, sizeof code, "&#%d;", c);
        out.put(code);
        return;
    case '&': out.put("&amp;"); return;
    case '<': out.put("&lt;"); return;
    case '>': out.put("&gt;"); return;
    case '"':
        if (mode != Escape::AttributeText) {
            out.put("&quot;");
            return;
        }
        break;
    case '\'':
        // Attribute values are written between apostrophes, so one inside must be a reference.
        if (mode == Escape::AttributeValue) {
            out.put("&apos;");
            return;
        }
        break;
    default: break;
    }
    out.put(static_cast<char>(c));
}

// Text given with its length (it also ends at a NUL, the buffer being a C string).
void put_escaped_text(Appender& out, const char* text, size_t length) {
    for (size_t i = 0; i < length && text[i] != '\0'; ++i)
        put_escaped(out, static_cast<unsigned char>(text[i]), Escape::Text);
}

// Attribute values and ready-made attribute texts end at byte 0 or byte 1.
void put_escaped_until_marker(Appender& out, const char* text, Escape mode) {
    for (const char* p = text; *p != '\0' && *p != '\1'; ++p) put_escaped(out, static_cast<unsigned char>(*p), mode);
}

// ---------------------------------------------------------------------------------------------
// Single-value reader

// Copies a name cut to GM_XML_NAME_MAX characters.
std::string cut_name(const char* name) { return std::string(name, strnlen(name, GM_XML_NAME_MAX)); }

// Copies text into a sized output, cut to size - 1 characters and terminated.
void copy_cut(char* out, int size, const char* text) {
    size_t n = std::min(std::strlen(text), static_cast<size_t>(size - 1));
    std::memcpy(out, text, n);
    out[n] = '\0';
}

struct ValueParse {
    std::string element;
    std::string parent;
    char* value;
    int value_size;
    size_t value_len = 0;
    char* att_name;
    int att_name_size;
    char* att_value;
    int att_value_size;
    bool in_parent = false;   // inside the parent element
    bool in_element = false;  // inside the wanted element under the parent
};

void GM_XML_ActOnStart(void* data, const XML_Char* name, const XML_Char** atts) {
    auto* st = static_cast<ValueParse*>(data);
    if (st->in_parent && st->element == name) {
        st->in_element = true;
        st->value[0] = '\0';
        st->value_len = 0;
        for (int i = 0; atts && atts[i] && atts[i + 1]; i += 2) {
            copy_cut(st->att_name, st->att_name_size, atts[i]);
            copy_cut(st->att_value, st->att_value_size, atts[i + 1]);
        }
    }
    if (st->parent == name) st->in_parent = true;
}

void GM_XML_ActOnEnd(void* data, const XML_Char* name) {
    auto* st = static_cast<ValueParse*>(data);
    if (st->parent == name)
        st->in_parent = false;
    else if (st->in_parent && st->element == name)
        st->in_element = false;
}

void GM_XML_ActOnCharacterData(void* data, const XML_Char* s, int len) {
    auto* st = static_cast<ValueParse*>(data);
    if (!st->in_parent || !st->in_element || len <= 0) return;
    size_t room = static_cast<size_t>(st->value_size - 1) - st->value_len;
    size_t n = std::min(room, static_cast<size_t>(len));
    std::memcpy(st->value + st->value_len, s, n);
    st->value_len += n;
    st->value[st->value_len] = '\0';
}

// The readers' parser. A parser reset for a new text keeps the buffers it has grown, so the
// process keeps one for its next read (taken out while in use: a read at the same time makes its
// own). A read thus allocates little beyond its answer, and the C library's allocator is not asked
// for a fresh parser's large buffers, for which it first gathers every small block freed since
// (the rows of the last list read, for one). A parser that read a text of more than
// kKeptTextMax bytes is freed rather than kept: what stays allocated between reads is bounded.
//
// A reset also runs over the parser's name tables, which stay as large as the most names one text
// needed: a short request read after a list of a thousand names would pay more for the reset than
// for its parse. So texts of up to kShortTextMax bytes have a kept parser of their own.
constexpr size_t kKeptTextMax = size_t{1} << 20;
constexpr size_t kShortTextMax = size_t{16} << 10;

struct KeptParser {
    std::atomic<XML_Parser> parser{nullptr};
    ~KeptParser() {
        if (XML_Parser p = parser.exchange(nullptr)) XML_ParserFree(p);
    }
};
KeptParser kept_parsers[2];  // for short texts, for longer ones

class ReadParser {
public:
    // For the NUL-terminated text `xml`, which parse() reads.
    ReadParser(const char* encoding, const char* xml)
        : xml_(xml),
          length_(std::strlen(xml)),
          kept_(&kept_parsers[length_ > kShortTextMax ? 1 : 0]),
          parser_(kept_->parser.exchange(nullptr)) {
        if (parser_ != nullptr && XML_ParserReset(parser_, encoding) != XML_TRUE) {
            XML_ParserFree(parser_);
            parser_ = nullptr;
        }
        if (parser_ == nullptr) parser_ = XML_ParserCreate(encoding);
    }
    ~ReadParser() {
        if (parser_ == nullptr) return;
        if (length_ > kKeptTextMax) {
            XML_ParserFree(parser_);
        } else if (XML_Parser older = kept_->parser.exchange(parser_)) {
            XML_ParserFree(older);
        }
    }
    ReadParser(const ReadParser&) = delete;
    ReadParser& operator=(const ReadParser&) = delete;

    XML_Parser get() const { return parser_; }

    // Runs the parse over the whole text, the last piece as final (a piece is at most what the
    // parser takes at once); logs a parse error with its line. 1 / 2.
    CM_RC parse() {
        size_t done = 0;
        do {
            const size_t piece = std::min(length_ - done, static_cast<size_t>(INT32_MAX));
            const bool last = done + piece == length_;
            if (XML_Parse(parser_, xml_ + done, static_cast<int>(piece), last ? 1 : 0) == XML_STATUS_ERROR) {
                DIAG_ERROR("Parse error at line %d:\n%s\n", static_cast<int>(XML_GetCurrentLineNumber(parser_)),
                           XML_ErrorString(XML_GetErrorCode(parser_)));
                return CM_RC_FAIL;
            }
            done += piece;
        } while (done < length_);
        return CM_RC_OK;
    }

private:
    const char* xml_;
    size_t length_;  // bytes of the text
    KeptParser* kept_;
    XML_Parser parser_;
};

bool outputs_usable(const char* function, const char* value, int value_size, const char* att_name, int att_name_size,
                    const char* att_value, int att_value_size) {
    if (value && att_name && att_value && value_size > 0 && att_name_size > 0 && att_value_size > 0) return true;
    DIAG_ERROR("%s: ERROR!!! Can not process. One of the output elements is NULL", function);
    return false;
}

// ---------------------------------------------------------------------------------------------
// List reader

struct ListParse {
    std::string parent;
    zpalist::Builder rows{nullptr};  // the caller's list, rows appended in document order
    bool in_parent = false;
    // A leaf candidate started inside the parent and has not ended: no element started since, so
    // the next end is its own and names it.
    bool has_name = false;
    // The current text while it fits a row, and its real length: a longer one gives no row.
    char text[GM_XML_LIST_VALUE_MAX + 1];
    size_t text_len = 0;
    bool over_length = false;
    bool append_failed = false;
};

// Most tags differ from the parent's name in their first character.
bool is_parent(const ListParse* st, const XML_Char* name) {
    return st->parent[0] == name[0] && std::strcmp(st->parent.c_str(), name) == 0;
}

void GM_XML_ActOnStartForList(void* data, const XML_Char* name, const XML_Char**) {
    auto* st = static_cast<ListParse*>(data);
    if (st->in_parent) st->has_name = true;
    if (is_parent(st, name)) st->in_parent = true;
    st->text_len = 0;
}

void GM_XML_ActOnCharacterDataForList(void* data, const XML_Char* s, int len) {
    auto* st = static_cast<ListParse*>(data);
    if (!st->in_parent || len <= 0) return;
    const size_t n = static_cast<size_t>(len);
    if (st->text_len + n <= GM_XML_LIST_VALUE_MAX) std::memcpy(st->text + st->text_len, s, n);
    st->text_len += n;
}

// A row: the name in its zero-filled 64-byte field, the text and its terminator, written straight
// into the list's element.
void append_row(ListParse* st, std::string_view name) {
    const size_t text_len = st->text_len;
    const CM_RC rc = st->rows.append_filled(GM_XML_ROW_NAME_SIZE + text_len + 1, [&](char* row) {
        std::memset(row, 0, GM_XML_ROW_NAME_SIZE);
        gm_bytes::put(row, name);
        *gm_bytes::put(row + GM_XML_ROW_NAME_SIZE, std::string_view(st->text, text_len)) = '\0';
    });
    if (rc != CM_RC_OK) {
        DIAG_ERROR("GM_XML_ParseBuf2List: failed to add the row of '%.*s'", static_cast<int>(name.size()), name.data());
        st->append_failed = true;
    }
}

void GM_XML_ActOnEndForList(void* data, const XML_Char* name) {
    auto* st = static_cast<ListParse*>(data);
    if (is_parent(st, name)) {
        st->in_parent = false;
        return;
    }
    if (!st->in_parent || !st->has_name) return;
    st->has_name = false;
    const size_t name_len = std::strlen(name);
    if (name_len > GM_XML_NAME_MAX) {
        DIAG_ERROR("xml element name too long: %d", static_cast<int>(name_len));
        st->over_length = true;
    } else if (st->text_len > GM_XML_LIST_VALUE_MAX) {
        DIAG_ERROR("xml element value too long: %d", static_cast<int>(st->text_len));
        st->over_length = true;
    } else {
        append_row(st, std::string_view(name, name_len));
    }
}

CM_RC parse_list(const char* function, const char* xml, const char* parent, ZPALIST_handle_typ* list,
                 const char* encoding) {
    if (!xml || !parent || !list) {
        DIAG_ERROR("%s: invalid argument", function);
        return CM_RC_FAIL;
    }
    ReadParser parser(encoding, xml);
    if (parser.get() == nullptr) {
        DIAG_TRACE(4, "%s: failed to create parser", function);
        return CM_RC_FAIL;
    }
    DIAG_TRACE(4, "%s: parent '%s'", function, parent);
    ZPALIST_init(list);
    ListParse st;
    st.parent = cut_name(parent);
    st.rows = zpalist::Builder(list);
    XML_SetUserData(parser.get(), &st);
    XML_SetElementHandler(parser.get(), GM_XML_ActOnStartForList, GM_XML_ActOnEndForList);
    XML_SetCharacterDataHandler(parser.get(), GM_XML_ActOnCharacterDataForList);
    CM_RC rc = parser.parse();
    if (rc == CM_RC_OK && (st.over_length || st.append_failed)) rc = CM_RC_FAIL;
    return rc;
}

}  // namespace

extern "C" {

// ---------------------------------------------------------------------------------------------
// Writer

CM_RC GM_xml_writeHeader(char* buffer, const char* text) {
    if (!buffer || !text) return CM_RC_OK;
    Appender(buffer).put(text);
    return CM_RC_OK;
}

CM_RC GM_xml_writeAttributeValue(char* buffer, const char* value) {
    if (!buffer) return CM_RC_OK;
    Appender out(buffer);
    out.put("='");
    if (value) put_escaped_until_marker(out, value, Escape::AttributeValue);
    out.put('\'');
    return CM_RC_OK;
}

CM_RC GM_xml_writeStartElem(char* buffer, const char* name, const char** attributes) {
    if (!buffer || !name) return CM_RC_OK;
    Appender(buffer).put("<");
    Appender(buffer).put(name);
    for (int i = 0; attributes && attributes[i]; i += 2) {
        Appender out(buffer);
        out.put(' ');
        out.put(attributes[i]);
        GM_xml_writeAttributeValue(buffer, attributes[i + 1]);
    }
    Appender(buffer).put('>');
    return CM_RC_OK;
}

CM_RC GM_xml_writeAttributes(char* buffer, const char* text) {
    if (!buffer || !text) return CM_RC_OK;
    Appender out(buffer);
    put_escaped_until_marker(out, text, Escape::AttributeText);
    return CM_RC_OK;
}

CM_RC GM_xml_writeStartElemWithStringAttributes(char* buffer, const char* name, const char* attributes) {
    if (!buffer || !name) return CM_RC_OK;
    Appender out(buffer);
    out.put('<');
    out.put(name);
    if (attributes && *attributes) {
        out.put(' ');
        GM_xml_writeAttributes(buffer, attributes);
    }
    Appender(buffer).put('>');
    return CM_RC_OK;
}

CM_RC GM_xml_writeCharacterData(char* buffer, const char* text, int length) {
    if (!buffer || !text || length <= 0) return CM_RC_OK;
    Appender out(buffer);
    put_escaped_text(out, text, static_cast<size_t>(length));
    return CM_RC_OK;
}

CM_RC GM_xml_writeEndElem(char* buffer, const char* name) {
    if (!buffer || !name) return CM_RC_OK;
    Appender out(buffer);
    out.put("</");
    out.put(name);
    out.put('>');
    return CM_RC_OK;
}

CM_RC GM_XML_BufInit(char* buffer) {
    GM_xml_writeHeader(buffer, isI18nDefined() ? kDeclarationUtf8 : kDeclarationLatin1);
    return GM_xml_writeStartElem(buffer, kRoot, nullptr);
}

CM_RC GM_XML_StartParentElement(char* buffer, const char* name, const char* attributes) {
    return GM_xml_writeStartElemWithStringAttributes(buffer, name, attributes);
}

CM_RC GM_XML_WriteElement(char* buffer, const char* name, const char* value, const char* attributes) {
    GM_xml_writeStartElemWithStringAttributes(buffer, name, attributes);
    if (value) GM_xml_writeCharacterData(buffer, value, static_cast<int>(strnlen(value, INT32_MAX)));
    return GM_xml_writeEndElem(buffer, name);
}

CM_RC GM_XML_CloseParentElement(char* buffer, const char* name) { return GM_xml_writeEndElem(buffer, name); }

CM_RC GM_XML_BufEnd(char* buffer) { return GM_xml_writeEndElem(buffer, kRoot); }

CM_RC GM_XML_DuplicateParentElement(const char* source, char* dest, const char* name) {
    if (!source || !dest || !name) return CM_RC_OK;
    try {
        // The work copy stands for the zeroed buffer as long as the source.
        std::string work;
        work.reserve(std::strlen(source) + 1);
        std::string_view src(source);
        if (std::strlen(name) > kDuplicateNameMax) {
            DIAG_TRACE(4, "Found nothing to duplicate");
            return CM_RC_OK;
        }
        const std::string start_tag = std::string("<").append(name).append(">");
        const std::string end_tag = std::string("</").append(name).append(">");
        size_t start = src.find(start_tag);
        size_t end = src.find(end_tag);
        if (start == std::string_view::npos || end == std::string_view::npos) {
            DIAG_TRACE(4, "Found nothing to duplicate");
            return CM_RC_OK;
        }
        if (start < end) work.assign(src.substr(start, end - start));
        work += end_tag;
        Appender(dest).put(work.c_str());
        return CM_RC_OK;
    } catch (const std::bad_alloc&) {
        DIAG_ERROR("calloc failed for DuplicateParentElement");
        return CM_RC_FAIL;
    }
}

// ---------------------------------------------------------------------------------------------
// Readers

CM_RC GM_XML_ParseByParentElement(const char* xml, const char* element, const char* parent, char* value, int value_size,
                                  char* att_name, int att_name_size, char* att_value, int att_value_size) {
    try {
        if (!xml || !element || !parent) {
            DIAG_ERROR("%s: invalid argument", "GM_XML_ParseByParentElement");
            return CM_RC_FAIL;
        }
        if (!outputs_usable("GM_XML_ParseByParentElement", value, value_size, att_name, att_name_size, att_value,
                            att_value_size))
            return CM_RC_FAIL;
        ReadParser parser(nullptr, xml);
        if (parser.get() == nullptr) {
            DIAG_TRACE(4, "%s: failed to create parser", "GM_XML_ParseByParentElement");
            return CM_RC_FAIL;
        }
        ValueParse st;
        st.element = cut_name(element);
        st.parent = cut_name(parent);
        st.value = value;
        st.value_size = value_size;
        st.att_name = att_name;
        st.att_name_size = att_name_size;
        st.att_value = att_value;
        st.att_value_size = att_value_size;
        XML_SetUserData(parser.get(), &st);
        XML_SetElementHandler(parser.get(), GM_XML_ActOnStart, GM_XML_ActOnEnd);
        XML_SetCharacterDataHandler(parser.get(), GM_XML_ActOnCharacterData);
        return parser.parse();
    } catch (...) {
        DIAG_ERROR("%s: out of memory", "GM_XML_ParseByParentElement");
        return CM_RC_FAIL;
    }
}

CM_RC GM_XML_ParseHeader(const char* xml, const char* element, char* value, int value_size, char* att_name,
                         int att_name_size, char* att_value, int att_value_size) {
    if (!outputs_usable("GM_XML_ParseHeader", value, value_size, att_name, att_name_size, att_value, att_value_size))
        return CM_RC_FAIL;
    DIAG_TRACE(4, "GM_XML_ParseHeader: element '%s'", element ? element : "");
    return GM_XML_ParseByParentElement(xml, element, "HEADER", value, value_size, att_name, att_name_size, att_value,
                                       att_value_size);
}

CM_RC GM_XML_ParseBody(const char* xml, const char* element, char* value, int value_size, char* att_name,
                       int att_name_size, char* att_value, int att_value_size) {
    if (!outputs_usable("GM_XML_ParseBody", value, value_size, att_name, att_name_size, att_value, att_value_size))
        return CM_RC_FAIL;
    DIAG_TRACE(4, "GM_XML_ParseBody: element '%s'", element ? element : "");
    return GM_XML_ParseByParentElement(xml, element, "BODY", value, value_size, att_name, att_name_size, att_value,
                                       att_value_size);
}

CM_RC GM_XML_ParseBuf2List(const char* xml, const char* parent, ZPALIST_handle_typ* list) {
    try {
        return parse_list("GM_XML_ParseBuf2List", xml, parent, list, nullptr);
    } catch (...) {
        DIAG_ERROR("%s: out of memory", "GM_XML_ParseBuf2List");
        return CM_RC_FAIL;
    }
}

CM_RC GM_XML_ParseBuf2ListByEncoding(const char* xml, const char* parent, ZPALIST_handle_typ* list,
                                     const char* encoding) {
    try {
        return parse_list("GM_XML_ParseBuf2ListByEncoding", xml, parent, list, encoding);
    } catch (...) {
        DIAG_ERROR("%s: out of memory", "GM_XML_ParseBuf2ListByEncoding");
        return CM_RC_FAIL;
    }
}

}  // extern "C"
