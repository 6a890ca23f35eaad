/* The configuration manager's requests that arrive through the list entry point: recognition of
 * their names, the dispatch of the thirteen names, the success and failure answer forms, the hand-
 * over of three requests to the external request manager pkmreqmanager, and the plug-in version
 * check. */
#include "be_child_internal.h"
#include "be_list_internal.h"
#include "be_pkm_internal.h"
#include "gm_param.h"
#include "os_file_nofollow.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr const char* kManagerScript = "pkmreqmanager";
constexpr const char* kDocumentStart = "<?xml version";
constexpr const char* kDocumentEnd = "</UVSCM>";
/* This plug-in's version number (9.0.21 written without points), and the one printed for a
 * request that tells none. */
constexpr double kPluginVersion = 9021.0;
constexpr double kUnknownVersion = 6401.0;
/* Longest user name of the agent home's owner. */
constexpr std::size_t kOwnerNameMax = 127;
/* The request file's bits, as a writing stream makes it under the usual umask; the manager may
 * run as the home's owner and must read it. */
constexpr mode_t kRequestFileMode = 0644;

bool starts_with_upper(const char* text, const char* prefix) {
    for (; *prefix != '\0'; ++text, ++prefix)
        if (*text == '\0' || std::toupper(static_cast<unsigned char>(*text)) != *prefix) return false;
    return true;
}

/* One request name: its code, its failure message and how it is handled. */
enum class Kind { Account, Settings, WithRequest, External };
struct PkmRequest {
    const char* name;
    Kind kind;
    ZPARC (*with_request)(char*, BE_DUZ_xmldata_handle*, ZPAError*);
};

const PkmRequest kRequests[] = {
    {"Orvcm_add_account_request", Kind::WithRequest, BE_DUZ_PKM_add_account_req},
    {"Orvcm_get_accounts_request", Kind::WithRequest, BE_DUZ_PKM_get_accounts_req},
    {"Orvcm_delete_account_request", Kind::WithRequest, BE_DUZ_PKM_delete_account_req},
    {"Orvcm_update_account_request", Kind::WithRequest, BE_DUZ_PKM_update_account_req},
    {"Orvcm_validate_account_request", Kind::WithRequest, BE_DUZ_PKM_validate_account},
    {"Orvoebs_get_ew_config_request", Kind::Settings, nullptr},
    {"Orvoebs_update_ew_config_request", Kind::WithRequest, BE_DUZ_PKM_update_ew_config_req},
    {"Orvoebs_get_applications_list_request", Kind::WithRequest, BE_DUZ_PKM_get_applications_list_req},
    {"Orvoebs_get_alerts_list_request", Kind::WithRequest, BE_DUZ_PKM_get_alerts_list_req},
    {"Orvoebs_activate_ew_request", Kind::WithRequest, BE_DUZ_PKM_activate_ew_req},
    {"Orvoebs_get_service_names_request", Kind::External, nullptr},
    {"Orvoebs_get_ew_rules_request", Kind::External, nullptr},
    {"Orvoebs_update_ew_rules_request", Kind::External, nullptr},
};

/* The error record's text; a non-empty one when an answer is prepared makes it the failure form. */
std::string record_text(const ZPAError* Error) {
    return Error != nullptr ? std::string(Error->text, strnlen(Error->text, sizeof Error->text)) : std::string();
}

/* The whole file, or false when it cannot be read. The manager may run as the owner of the
 * folder: a link put at the name is refused, never read through. */
bool read_whole(const std::string& path, std::string& text) {
    const int fd = os_file::open_regular(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    text.clear();
    char buffer[8192];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return n == 0;
}

/* The request file made anew, so that a link planted at its name is removed, never written
 * through; false, with the reason in Error, when it cannot be made or written whole. */
bool write_request(const char* fn, const std::string& path, const char* request, ZPAError* Error) {
    const int fd = os_file::create_fresh(path.c_str(), kRequestFileMode);
    if (fd < 0) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: open  file '%s' failed", fn, path.c_str());
        return false;
    }
    const bool written = OS_FILE_write(fd, request, static_cast<int>(std::strlen(request))) == CM_RC_OK;
    if (::close(fd) != 0 || !written) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: write to file '%s' failed", fn, path.c_str());
        return false;
    }
    return true;
}

/* A path as one word of a shell command line: between single quotes, each quote written '\''. */
std::string shell_quoted(const std::string& word) {
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

/* Name of the owner of the agent home (the current directory); false after storing the reason. */
bool home_owner(std::string& owner, char* Error) {
    struct stat status {};
    if (::stat(".", &status) != 0) {
        std::snprintf(Error, BE_DUZ_PKM_ERROR_SIZE, "Failed to get the owner of the agent directory");
        return false;
    }
    if (status.st_uid == 0) {
        owner = "root";
        return true;
    }
    const passwd* entry = getpwuid(status.st_uid);
    if (entry == nullptr || entry->pw_name == nullptr) {
        std::snprintf(Error, BE_DUZ_PKM_ERROR_SIZE, "Failed to get password entry for userid %d",
                      static_cast<int>(status.st_uid));
        return false;
    }
    owner.assign(entry->pw_name, strnlen(entry->pw_name, kOwnerNameMax));
    return true;
}

/* Keeps a finished answer in the handle for READ. */
ZPARC store_answer(BE_DUZ_xmldata_handle* handle, const std::string& answer, ZPAError* Error) {
    char* text = be_list::copy_text(answer);
    if (text == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to allocate memory for response_handle->xmlResponse");
        return ZPA_FAIL;
    }
    std::free(handle->xmlResponse);
    handle->xmlResponse = text;
    handle->row_index = 0;
    handle->num_of_fields = 0;
    return ZPA_SUCCESS;
}

}  // namespace

namespace be_pkm {

bool document_of(std::string_view text, std::string& document) {
    const std::size_t start = text.find(kDocumentStart);
    const std::size_t end = text.find(kDocumentEnd);
    if (start == std::string_view::npos || end == std::string_view::npos || end < start) return false;
    document.assign(text.substr(start, end + std::strlen(kDocumentEnd) - start));
    return true;
}

}  // namespace be_pkm

CM_EXTERN_C_BEGIN

int BE_DUZ_PKM_isPKMrequest(const char* action) {
    if (action == nullptr || *action == '\0') return 0;
    return starts_with_upper(action, BE_DUZ_PKM_PREFIX_CM) || starts_with_upper(action, BE_DUZ_PKM_PREFIX_OEBS) ? 1 : 0;
}

ZPARC BE_DUZ_PKM_request_to_response(char* request, char* response) {
    if (request == nullptr || response == nullptr) return ZPA_FAIL;
    std::string name(request);
    const std::size_t at = name.find("request");
    if (at != std::string::npos) name.replace(at, 7, "response");
    std::snprintf(response, BE_DUZ_PKM_NAME_SIZE, "%s", name.c_str());
    return ZPA_SUCCESS;
}

ZPARC BE_DUZ_PKM_prepare_xml_response(BE_DUZ_xmldata_handle* response_handle, char* response_body_xml, ZPAError* Error,
                                      char* error_message, char* error_code, char* request_name) {
    if (response_handle == nullptr) return ZPA_FAIL;
    try {
        char response[BE_DUZ_PKM_NAME_SIZE] = "";
        BE_DUZ_PKM_request_to_response(request_name != nullptr ? request_name : const_cast<char*>(""), response);
        const std::string error_text = record_text(Error);
        std::string answer;
        if (!error_text.empty()) {
            answer = std::string("<Error><Code>") + (error_code != nullptr ? error_code : "") + "</Code><Message>" +
                     be_pkm::escaped(error_message != nullptr ? error_message : "") +
                     "</Message><Source>CM_OEBS</Source><Severity>E</Severity><ExtendedMessage>" +
                     be_pkm::escaped(error_text) + "</ExtendedMessage></Error>";
        } else {
            answer = std::string("<") + response + ">" + (response_body_xml != nullptr ? response_body_xml : "") +
                     "</" + response + ">";
        }
        return store_answer(response_handle, answer, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to allocate memory for xml_response");
        return ZPA_FAIL;
    }
}

ZPARC BE_DUZ_PKM_handle_java_process(char* Script, char* requestFile, char* responseFile, char* Error) {
    if (Script == nullptr || requestFile == nullptr || responseFile == nullptr || Error == nullptr) return ZPA_FAIL;
    Error[0] = '\0';
    try {
        be_child::Command command;
        command.output = responseFile;
        if (geteuid() != 0) {
            command.program = Script;
            command.argv = {kManagerScript, requestFile};
        } else {
            /* As root the manager runs as the owner of the agent home; the shell of su reads the
             * command line, so each path in it is one quoted word. */
            std::string owner;
            if (!home_owner(owner, Error)) return ZPA_FAIL;
            command.program = "/bin/su";
            command.argv = {"/bin/su", "-", owner, "-c", shell_quoted(Script) + " " + shell_quoted(requestFile) + " "};
        }
        BE_TRACE(4, "request manager: %s", be_child::describe(command.argv).c_str());
        const be_child::Result result = be_child::run(command);
        if (result.output_failed) {
            std::snprintf(Error, BE_DUZ_PKM_ERROR_SIZE, "Cannot make the response file '%s': %s", responseFile,
                          std::strerror(result.error));
            return ZPA_FAIL;
        }
        if (!result.started) {
            std::snprintf(Error, BE_DUZ_PKM_ERROR_SIZE, "fork failed, error : '%d'", result.error);
            return ZPA_FAIL;
        }
        if (!result.waited) {
            std::snprintf(Error, BE_DUZ_PKM_ERROR_SIZE, "waitpid failed. Error : %s", std::strerror(result.error));
            return ZPA_FAIL;
        }
        if (!result.exited()) {
            std::snprintf(Error, BE_DUZ_PKM_ERROR_SIZE, "The request manager did not end normally (status %d)",
                          result.status);
            return ZPA_FAIL;
        }
        BE_TRACE(4, "request manager ended with exit code %d", result.exit_code());
        return ZPA_SUCCESS;
    } catch (...) {
        std::snprintf(Error, BE_DUZ_PKM_ERROR_SIZE, "%s: out of memory", "BE_DUZ_PKM_handle_java_process");
        return ZPA_FAIL;
    }
}

ZPARC BE_DUZ_use_java_process(char* action, char* pkmRequest, BE_DUZ_xmldata_handle* response_handle, ZPAError* Error) {
    static constexpr const char* fn = "BE_DUZ_use_java_process";
    if (action == nullptr || pkmRequest == nullptr || response_handle == nullptr) return ZPA_FAIL;
    try {
        GM_PARAM_VALUE_typ agent_dir = "";
        GM_PARAM_get("CONFIG", "AGENT_DIR", agent_dir);
        GM_PARAM_VALUE_typ cm_dir = "";
        GM_PARAM_get("OEBS", "CM_DIR", cm_dir);
        const std::string directory = std::string(agent_dir) + "/proclog/";
        const std::string pid = std::to_string(static_cast<long>(getpid()));
        const std::string request_file = directory + action + "_" + pid + ".xml";
        const std::string response_file = directory + action + "_response_" + pid + ".xml";

        if (!write_request(fn, request_file, pkmRequest, Error)) return ZPA_FAIL;
        const std::string script = std::string(cm_dir) + "/" + kManagerScript;
        char failure[BE_DUZ_PKM_ERROR_SIZE] = "";
        if (BE_DUZ_PKM_handle_java_process(const_cast<char*>(script.c_str()), const_cast<char*>(request_file.c_str()),
                                           const_cast<char*>(response_file.c_str()), failure) != 0) {
            BE_DUZ_UpdateErrorSet(Error, 1, "%s", failure);
            return ZPA_FAIL;
        }
        std::string answer;
        if (!read_whole(response_file, answer)) {
            BE_DUZ_UpdateErrorSet(Error, 1, "%s: read from file '%s' failed", fn, response_file.c_str());
            return ZPA_FAIL;
        }
        std::string document;
        if (!be_pkm::document_of(answer, document)) {
            BE_DUZ_UpdateErrorSet(Error, 1, "The request manager's answer in '%s' holds no document",
                                  response_file.c_str());
            return ZPA_FAIL;
        }
        return store_answer(response_handle, document, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", fn);
        return ZPA_FAIL;
    }
}

ZPARC BE_DUZ_PKM_handle_pkm_request(char* action, char* pkmRequest, BE_DUZ_xmldata_handle* response_handle,
                                    ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s' %s", "BE_DUZ_PKM_handle_pkm_request", action != nullptr ? action : "");
    for (const PkmRequest& request : kRequests) {
        if (action == nullptr || std::strcmp(request.name, action) != 0) continue;
        switch (request.kind) {
        case Kind::Settings: return BE_DUZ_PKM_get_ew_config_req(response_handle, Error);
        case Kind::External: return BE_DUZ_use_java_process(action, pkmRequest, response_handle, Error);
        default: return request.with_request(pkmRequest, response_handle, Error);
        }
    }
    BE_DUZ_UpdateErrorSet(Error, 1, "Unknown request: %s ", action != nullptr ? action : "");
    return ZPA_FAIL;
}

int BE_DUZ_PKM_extractPluginVersionString(char* xmlBuff, int size, char* pluginVer) {
    if (xmlBuff == nullptr || pluginVer == nullptr || size <= 0) return 0;
    pluginVer[0] = '\0';
    std::string upper(xmlBuff);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static constexpr std::string_view kOpen = "<PLUGINVERSION>";
    const std::size_t open = upper.find(kOpen);
    if (open == std::string::npos) return 0;
    const std::size_t close = upper.find("</PLUGINVERSION>", open + kOpen.size());
    if (close == std::string::npos) return 0;
    const std::string version = upper.substr(open + kOpen.size(), close - open - kOpen.size());
    std::snprintf(pluginVer, static_cast<std::size_t>(size), "%s", version.c_str());
    return 1;
}

int BE_DUZ_PKM_checkIfPluginVersionIsValid(char* xmlBuff, ZPAError* Error) {
    char version_text[64] = "";
    double version = 0.0;
    if (BE_DUZ_PKM_extractPluginVersionString(xmlBuff, sizeof version_text, version_text) == 1) {
        char* end = nullptr;
        version = std::strtod(version_text, &end);
        if (end == version_text) version = 0.0;
    }
    if (version >= kPluginVersion) return 1;
    BE_DUZ_UpdateErrorSet(Error, 1,
                          "PKM CM for OEBS Plugin version, %.3f, is not compatible with CM for OEBS version, %.3f.",
                          version == 0.0 ? kUnknownVersion : version, kPluginVersion);
    return 0;
}

CM_EXTERN_C_END
