// Plain-text helpers on the plug-in's XML answers: opening and closing an answer body around the
// request's header, taking an element's text by searching for its tags, escaping and unescaping
// the five XML special characters, string replacement and growable work buffers.
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "be_def.h"
#include "gm_xml.h"

namespace {

struct Entity {
    char character;
    const char* text;
};
// Escape order. The ampersand goes first so that the entities written later are not escaped again.
constexpr Entity kEscapes[] = {{'&', "&amp;"}, {'"', "&quot;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'\'', "&apos;"}};
// Unescape order. "&amp;" comes last: decoding it first would turn "&amp;quot;" (an escaped
// "&quot;") into a double quote, and unescape would no longer undo escape.
constexpr Entity kUnescapes[] = {{'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}, {'\'', "&apos;"}, {'&', "&amp;"}};

std::string replace_all(std::string_view text, std::string_view from, std::string_view to) {
    if (from.empty()) return std::string(text);
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    for (std::size_t hit; (hit = text.find(from, pos)) != std::string_view::npos; pos = hit + from.size()) {
        out.append(text.substr(pos, hit - pos));
        out.append(to);
    }
    out.append(text.substr(pos));
    return out;
}

// "<tag>" and "</tag>"; false for a tag name that does not fit the 128-byte tag texts.
bool tag_texts(const char* tag, std::string& open, std::string& close) {
    if (!tag || std::strlen(tag) > BE_DUZ_XML_TAG_MAX) return false;
    open = std::string("<") + tag + ">";
    close = std::string("</") + tag + ">";
    return true;
}

void copy_bounded(char* out, const char* from, std::size_t length) {
    if (length > BE_DUZ_XML_VALUE_SIZE - 1) length = BE_DUZ_XML_VALUE_SIZE - 1;
    std::memcpy(out, from, length);
    out[length] = '\0';
}

}  // namespace

extern "C" {

ZPARC BE_DUZ_init_xml_body(char* xmlbuf, const char* header, ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_init_xml_body");
    if (!xmlbuf || GM_XML_BufInit(xmlbuf) != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 1, "GM_XML_BufInit failed.");
        return ZPA_FAIL;
    }
    if (!header || GM_XML_DuplicateParentElement(header, xmlbuf, "HEADER") != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to duplicate header.");
        return ZPA_FAIL;
    }
    if (GM_XML_StartParentElement(xmlbuf, "BODY", nullptr) != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 1, "GM_XML_StartParentElement failed.");
        return ZPA_FAIL;
    }
    return ZPA_SUCCESS;
}

ZPARC BE_DUZ_end_xml_body(char* xmlbuf, ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_end_xml_body");
    if (!xmlbuf) {
        BE_DUZ_UpdateErrorSet(Error, 1, "GM_XML_BufEnd failed.");
        return ZPA_FAIL;
    }
    ZPARC rc = ZPA_SUCCESS;
    if (GM_XML_CloseParentElement(xmlbuf, "BODY") != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 1, "GM_XML_CloseParentElement failed.");
        rc = ZPA_FAIL;
    }
    if (GM_XML_BufEnd(xmlbuf) != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 1, "GM_XML_BufEnd failed.");
        rc = ZPA_FAIL;
    }
    return rc;
}

char* BE_DUZ_get_XML_value(char* XML_buff, const char* XML_tag, char* value) {
    static constexpr const char* fn = "BE_DUZ_get_XML_value";
    std::string open, close;
    if (!XML_buff || !value || !tag_texts(XML_tag, open, close)) return nullptr;
    char* start = std::strstr(XML_buff, open.c_str());
    if (!start) {
        BE_TRACE(4, "%s: no more instances of tag '%s'", fn, open.c_str());
        return nullptr;
    }
    char* end = std::strstr(XML_buff, close.c_str());
    if (!end) {
        BE_TRACE(4, "%s: closing tag - '%s' not found", fn, close.c_str());
        return nullptr;
    }
    char* content = start + open.size();
    if (end < content) return nullptr;
    copy_bounded(value, content, static_cast<std::size_t>(end - content));
    return end + close.size();
}

char* BE_DUZ_find_XML_tag(const char* XML_buff, const char* XML_tag) {
    static constexpr const char* fn = "BE_DUZ_find_XML_tag";
    std::string open, close;
    if (!XML_buff || !tag_texts(XML_tag, open, close)) return nullptr;
    const char* start = std::strstr(XML_buff, open.c_str());
    if (!start) {
        BE_TRACE(4, "%s: opening tag - '%s' not found", fn, open.c_str());
        return nullptr;
    }
    const char* end = std::strstr(XML_buff, close.c_str());
    if (!end) {
        BE_TRACE(4, "%s: closing tag - '%s' not found", fn, close.c_str());
        return nullptr;
    }
    const char* content = start + open.size();
    if (end < content) return nullptr;
    bool blank = true;
    for (const char* p = content; p < end && blank; ++p) blank = std::isspace(static_cast<unsigned char>(*p)) != 0;
    if (blank) {
        BE_TRACE(4, "%s: no data inside %s", fn, open.c_str());
        return nullptr;
    }
    const std::size_t length = static_cast<std::size_t>(end - start) + close.size();
    char* element = static_cast<char*>(std::malloc(length + 1));
    if (!element) {
        BE_TRACE(4, "%s: unable to allocate memory", fn);
        return nullptr;
    }
    std::memcpy(element, start, length);
    element[length] = '\0';
    return element;
}

char* BE_DUZ_get_next_tag_name(char* buffer, char* name) {
    if (!buffer || !name) return nullptr;
    char* lt = std::strchr(buffer, '<');
    char* gt = std::strchr(buffer, '>');
    if (!lt || !gt || gt < lt) return nullptr;
    const std::size_t length = static_cast<std::size_t>(gt - lt - 1);
    if (length > BE_DUZ_XML_TAG_MAX) return nullptr;
    std::memcpy(name, lt + 1, length);
    name[length] = '\0';
    try {
        const std::string close = std::string("</") + name + ">";
        char* end = std::strstr(buffer, close.c_str());
        return end ? end + close.size() : nullptr;
    } catch (...) {
        return nullptr;
    }
}

int BE_DUZ_replace_XML_chars(char* XMLIn, long buffSize, int action) {
    static constexpr const char* fn = "BE_DUZ_replace_XML_chars";
    if (!XMLIn) return 1;
    try {
        std::string text(XMLIn);
        if (action == BE_DUZ_XML_UNESCAPE) {
            for (const Entity& e : kUnescapes) text = replace_all(text, e.text, std::string(1, e.character));
            std::memcpy(XMLIn, text.c_str(), text.size() + 1);  // never longer than the input
            return 0;
        }
        for (const Entity& e : kEscapes) text = replace_all(text, std::string(1, e.character), e.text);
        // buffSize is the room of XMLIn: the escaped text and its terminator must fit.
        if (buffSize < 0 || text.size() + 1 > static_cast<unsigned long>(buffSize)) {
            BE_TRACE(4, "%s: modified buffer '%s' is too big[%d][%d]\n", fn, text.c_str(),
                     static_cast<int>(text.size()), static_cast<int>(buffSize));
            if (text.size() > 0) XMLIn[0] = '\0';
            return text.empty() ? 0 : 1;
        }
        std::memcpy(XMLIn, text.c_str(), text.size() + 1);
        return 0;
    } catch (...) {
        DIAG_printf("%s: failed to allocate temp buffer\n", fn);
        return 1;
    }
}

long BE_DUZ_replace(const char* sourceBuff, char* destBuff, const char* sourceStr, const char* destStr) {
    if (!sourceBuff || !destBuff) return 0;
    try {
        std::string out = replace_all(sourceBuff, sourceStr ? sourceStr : "", destStr ? destStr : "");
        std::memcpy(destBuff, out.c_str(), out.size() + 1);
        return static_cast<long>(out.size());
    } catch (...) {
        destBuff[0] = '\0';
        return 0;
    }
}

char* BE_DUZ_handle_buffer(ACTION_typ action, char* oldBuffer, long* bufferSize) {
    static constexpr const char* fn = "BE_DUZ_handle_buffer";
    char system_error[256];
    switch (action) {
    case B_INIT: {
        if (!bufferSize || *bufferSize <= 0) return nullptr;
        char* buffer = static_cast<char*>(std::calloc(static_cast<std::size_t>(*bufferSize), 1));
        if (!buffer) DIAG_printf("%s: Failed to allocate memory: %s", fn, BE_DUZ_get_system_error(system_error));
        return buffer;
    }
    case B_DOUBLE: {
        if (!bufferSize || *bufferSize <= 0 || !oldBuffer) return nullptr;
        const std::size_t old_size = static_cast<std::size_t>(*bufferSize);
        char* buffer = static_cast<char*>(std::calloc(old_size * 2, 1));
        if (!buffer) {
            DIAG_printf("%s: Failed to allocate memory: %s", fn, BE_DUZ_get_system_error(system_error));
            return nullptr;
        }
        std::memcpy(buffer, oldBuffer, old_size);
        std::free(oldBuffer);
        *bufferSize = static_cast<long>(old_size * 2);
        BE_TRACE(4, "%s: buffer reallocated - old size '%ld'[%lx]  new size '%ld'[%lx]", fn,
                 static_cast<long>(old_size), static_cast<unsigned long>(old_size), *bufferSize,
                 static_cast<unsigned long>(*bufferSize));
        return buffer;
    }
    case B_FREE: std::free(oldBuffer); return nullptr;
    }
    return nullptr;
}

}  // extern "C"
