// zpahost: loads libappbridge.so the way the agent does and drives its entry points from attribute
// files, printing every result, the output attributes and the error record. The agent owns the
// lists it passes; lists the plug-in grew are handed back through ZPAAPI_ReleaseAttr.
//
//   zpahost [-l LIBRARY] -c CONNECTION_FILE STEP...
//   STEP:  connect IN              ZPAAPI_Connect with the request attributes of IN
//          reconnect IN            the same with a null plug-in handle (the plug-in's own reconnection)
//          action ENTRY ACTION IN OUT   e.g. action ZPAAPI_JOB_ACTION SUBMIT in.txt out.txt
//          data PREFIX IN OUT      PREFIX_OPEN, PREFIX_READ until it stops returning 0, PREFIX_CLOSE
//          datawrite PREFIX IN OUT WRITE   the same with PREFIX_WRITE after each READ that returned 0;
//                                  its list holds the attributes of WRITE, built with the plug-in's
//                                  ZPAAPI_UTILS_AttrListAppend_Value2Attr, and the plug-in releases it
//   ZPAAPI_Init comes first, ZPAAPI_Disconnect and ZPAAPI_Term last.
//
// Attribute files hold NAME=VALUE lines (blank lines and lines starting with '#' are skipped). An
// output slot may give its room as NAME:ROOM=VALUE; without it a slot has kDefaultSlotRoom bytes.
#include "zpaapi.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr unsigned kDefaultSlotRoom = 1024;
constexpr unsigned kMaxSlotRoom = 65535;  // ValueLen is an unsigned short

using InitFn = ZPARC (*)(ZPABeHandle*, ZPAAttrList*, ZPAError*);
using TermFn = ZPARC (*)(ZPABeHandle*, ZPAError*);
using ConnectFn = ZPARC (*)(ZPABeHandle*, ZPAConnHandle*, ZPAAttrList*, ZPAError*);
using DisconnectFn = ZPARC (*)(ZPAConnHandle*, ZPAError*);
using ReleaseFn = ZPARC (*)(ZPAAttrList*);
using ActionFn = ZPARC (*)(ZPAConnHandle*, char*, ZPAAttrList*, ZPAAttrList*, ZPAError*);
using OpenFn = ZPARC (*)(ZPAConnHandle*, void**, ZPAAttrList*, ZPAError*);
using ReadFn = ZPARC (*)(ZPAConnHandle*, void*, ZPAAttrList*, ZPAAttrList*, ZPAError*);
using CloseFn = ZPARC (*)(ZPAConnHandle*, void*, ZPAAttrList*, ZPAError*);
using WriteFn = ZPARC (*)(ZPAConnHandle*, void*, ZPAAttrList*, ZPAError*);
using AppendFn = ZPARC (*)(ZPAAttrList*, char*, char*);

// An attribute list whose names and values live in this object, as the agent's own lists do.
class AgentList {
public:
    bool load(const std::string& path, bool slots, std::string* problem) {
        std::ifstream in(path);
        if (!in) {
            *problem = "cannot read " + path;
            return false;
        }
        std::string line;
        int number = 0;
        while (std::getline(in, line)) {
            ++number;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty() || line[0] == '#') continue;
            const std::size_t eq = line.find('=');
            if (eq == std::string::npos || eq == 0) {
                *problem = path + ":" + std::to_string(number) + ": expected NAME=VALUE";
                return false;
            }
            std::string name = line.substr(0, eq);
            std::string value = line.substr(eq + 1);
            unsigned room = static_cast<unsigned>(value.size()) + 1;
            if (slots) room = std::max(room, kDefaultSlotRoom);
            const std::size_t colon = name.rfind(':');
            if (colon != std::string::npos && colon + 1 < name.size() &&
                name.find_first_not_of("0123456789", colon + 1) == std::string::npos) {
                room = static_cast<unsigned>(std::strtoul(name.c_str() + colon + 1, nullptr, 10));
                name.resize(colon);
                if (room < 1 || room > kMaxSlotRoom || value.size() + 1 > room) {
                    *problem = path + ":" + std::to_string(number) + ": room does not fit the value";
                    return false;
                }
            }
            add(name, value, room);
        }
        return true;
    }
    void add(const std::string& name, const std::string& value, unsigned room) {
        auto n = std::make_unique<char[]>(name.size() + 1);
        std::memcpy(n.get(), name.c_str(), name.size() + 1);
        auto v = std::make_unique<char[]>(room);
        std::memset(v.get(), 0, room);
        std::memcpy(v.get(), value.c_str(), value.size());
        attrs_.push_back(ZPAAttr{n.get(), static_cast<unsigned short>(room), v.get()});
        names_.push_back(std::move(n));
        values_.push_back(std::move(v));
    }
    // The list as passed to the plug-in; rebuilt so that a grown array from an earlier call is gone.
    ZPAAttrList* list() {
        list_ = ZPAAttrList{static_cast<int>(attrs_.size()), attrs_.empty() ? nullptr : attrs_.data(), 0};
        return &list_;
    }
    // The list as the plug-in left it after a call.
    ZPAAttrList* current() { return &list_; }
    // True when the plug-in replaced the array (it appended): that array is the plug-in's to free.
    bool grown() const { return list_.Attributes != (attrs_.empty() ? nullptr : attrs_.data()); }
    const std::vector<ZPAAttr>& attributes() const { return attrs_; }

private:
    std::vector<std::unique_ptr<char[]>> names_, values_;
    std::vector<ZPAAttr> attrs_;
    ZPAAttrList list_{0, nullptr, 0};
};

struct Plugin {
    void* dl = nullptr;
    InitFn init = nullptr;
    TermFn term = nullptr;
    ConnectFn connect = nullptr;
    DisconnectFn disconnect = nullptr;
    ReleaseFn release = nullptr;

    template <typename F>
    F symbol(const std::string& name) const {
        return reinterpret_cast<F>(dlsym(dl, name.c_str()));
    }
};

std::string printable(const char* text) {
    std::string out;
    for (const char* p = text; p && *p; ++p) {
        if (*p == '\n')
            out += "\\n";
        else if (*p == '\r')
            out += "\\r";
        else if (*p == '\t')
            out += "\\t";
        else
            out += *p;
    }
    return out;
}

void print_error(const ZPAError& error) {
    const std::size_t n = strnlen(error.text, sizeof error.text);
    if (error.code == 0 && n == 0) return;
    std::printf("  error: code=%d text=%s\n", static_cast<int>(error.code),
                printable(std::string(error.text, n).c_str()).c_str());
}

void print_list(const char* label, const ZPAAttrList* list) {
    for (int i = 0; list && i < list->Count; ++i) {
        const ZPAAttr& attr = list->Attributes[i];
        std::printf("  %s %s=%s\n", label, attr.Name ? attr.Name : "", printable(attr.Value).c_str());
    }
}

const char* user_data_kind(const ZPAConnHandle& connection) {
    if (connection.UserData == nullptr) return "none";
    switch (*static_cast<const int*>(connection.UserData)) {
    case 1: return "session";
    case 2: return "session list";
    case 3: return "account names";
    default: return "other";
    }
}

int usage() {
    std::fprintf(stderr,
                 "usage: zpahost [-l LIBRARY] -c CONNECTION_FILE STEP...\n"
                 "  connect IN | reconnect IN | action ENTRY ACTION IN OUT | data PREFIX IN OUT\n"
                 "  | datawrite PREFIX IN OUT WRITE\n");
    return 2;
}

class Host {
public:
    Host(Plugin plugin, AgentList& connection_attrs) : plugin_(plugin) {
        std::snprintf(backend_.Type, sizeof backend_.Type, "%s", "OEBS");
        std::snprintf(connection_.BeName, sizeof connection_.BeName, "%s", "OEBS");
        connection_.BeHandle = &backend_;
        connection_.Attributes = *connection_attrs.list();
    }

    void init() {
        ZPAError error{};
        AgentList none;
        const ZPARC rc = plugin_.init(&backend_, none.list(), &error);
        std::printf("ZPAAPI_Init rc=%d\n", rc);
        print_error(error);
    }

    bool connect(const std::string& in_file, bool with_backend) {
        AgentList in;
        if (!load(in, in_file, false)) return false;
        ZPAError error{};
        const ZPARC rc = plugin_.connect(with_backend ? &backend_ : nullptr, &connection_, in.list(), &error);
        connection_.result = rc;
        std::printf("ZPAAPI_Connect%s rc=%d userdata=%s\n", with_backend ? "" : " (reconnect)", rc,
                    user_data_kind(connection_));
        print_error(error);
        return true;
    }

    bool action(const std::string& entry, const std::string& action_name, const std::string& in_file,
                const std::string& out_file) {
        auto fn = plugin_.symbol<ActionFn>(entry);
        if (fn == nullptr) return missing(entry);
        AgentList in, out;
        if (!load(in, in_file, false) || !load(out, out_file, true)) return false;
        ZPAError error{};
        std::string action = action_name;
        const ZPARC rc = fn(&connection_, action.data(), in.list(), out.list(), &error);
        std::printf("%s(%s) rc=%d\n", entry.c_str(), action_name.c_str(), rc);
        report_output(out);
        print_error(error);
        return true;
    }

    bool data(const std::string& prefix, const std::string& in_file, const std::string& out_file,
              const std::string& write_file = "") {
        auto open = plugin_.symbol<OpenFn>(prefix + "_OPEN");
        auto read = plugin_.symbol<ReadFn>(prefix + "_READ");
        auto close = plugin_.symbol<CloseFn>(prefix + "_CLOSE");
        auto write = plugin_.symbol<WriteFn>(prefix + "_WRITE");
        auto append = plugin_.symbol<AppendFn>("ZPAAPI_UTILS_AttrListAppend_Value2Attr");
        if (open == nullptr) return missing(prefix + "_OPEN");
        if (read == nullptr) return missing(prefix + "_READ");
        if (close == nullptr) return missing(prefix + "_CLOSE");
        if (!write_file.empty() && write == nullptr) return missing(prefix + "_WRITE");
        if (!write_file.empty() && append == nullptr) return missing("ZPAAPI_UTILS_AttrListAppend_Value2Attr");
        AgentList in, to_write;
        if (!load(in, in_file, false)) return false;
        if (!write_file.empty() && !load(to_write, write_file, false)) return false;
        ZPAError error{};
        void* handle = nullptr;
        ZPARC rc = open(&connection_, &handle, in.list(), &error);
        std::printf("%s_OPEN rc=%d\n", prefix.c_str(), rc);
        print_error(error);
        if (rc != 0 && handle == nullptr) return true;
        for (int reads = 0; rc == 0 || reads == 0; ++reads) {
            AgentList out;
            if (!load(out, out_file, true)) return false;
            error = ZPAError{};
            rc = read(&connection_, handle, in.list(), out.list(), &error);
            std::printf("%s_READ rc=%d\n", prefix.c_str(), rc);
            report_output(out);
            print_error(error);
            if (rc == 0 && write != nullptr && !write_file.empty()) {
                ZPAAttrList list{0, nullptr, 0};
                if (!build_with(append, to_write, &list)) return false;
                error = ZPAError{};
                const ZPARC written = write(&connection_, handle, &list, &error);
                std::printf("%s_WRITE rc=%d\n", prefix.c_str(), written);
                print_error(error);
            }
        }
        error = ZPAError{};
        rc = close(&connection_, handle, in.list(), &error);
        std::printf("%s_CLOSE rc=%d\n", prefix.c_str(), rc);
        print_error(error);
        return true;
    }

    void finish() {
        ZPAError error{};
        ZPARC rc = plugin_.disconnect(&connection_, &error);
        std::printf("ZPAAPI_Disconnect rc=%d userdata=%s\n", rc, user_data_kind(connection_));
        print_error(error);
        error = ZPAError{};
        rc = plugin_.term(&backend_, &error);
        std::printf("ZPAAPI_Term rc=%d\n", rc);
        print_error(error);
    }

private:
    bool load(AgentList& list, const std::string& file, bool slots) {
        std::string problem;
        if (list.load(file, slots, &problem)) return true;
        std::fprintf(stderr, "zpahost: %s\n", problem.c_str());
        return false;
    }
    bool missing(const std::string& name) {
        std::fprintf(stderr, "zpahost: the plug-in exports no %s\n", name.c_str());
        return false;
    }
    // A list built the way the plug-in releases it: each append makes a new array, and the one
    // before it goes back to the plug-in.
    bool build_with(AppendFn append, const AgentList& from, ZPAAttrList* list) {
        for (const ZPAAttr& attr : from.attributes()) {
            ZPAAttrList before = *list;
            if (append(list, attr.Name, attr.Value) != 0) {
                std::fprintf(stderr, "zpahost: cannot build the WRITE list\n");
                if (list->Attributes) plugin_.release(list);
                return false;
            }
            if (before.Attributes) plugin_.release(&before);
        }
        return true;
    }
    // Prints the output attributes; a list the plug-in grew is printed from its new array and
    // released through the plug-in, as the agent does.
    void report_output(AgentList& out) {
        ZPAAttrList* list = out.current();
        print_list("out", list);
        if (out.grown()) plugin_.release(list);
    }

    Plugin plugin_;
    ZPABeHandle backend_{};
    ZPAConnHandle connection_{};
};

}  // namespace

int main(int argc, char** argv) {
    std::string library = "libappbridge.so";
    std::string connection_file;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-l" && i + 1 < argc)
            library = argv[++i];
        else if (arg == "-c" && i + 1 < argc)
            connection_file = argv[++i];
        else
            break;
    }
    if (connection_file.empty() || i >= argc) return usage();

    Plugin plugin;
    plugin.dl = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (plugin.dl == nullptr) {
        std::fprintf(stderr, "zpahost: cannot load %s: %s\n", library.c_str(), dlerror());
        return 2;
    }
    plugin.init = plugin.symbol<InitFn>("ZPAAPI_Init");
    plugin.term = plugin.symbol<TermFn>("ZPAAPI_Term");
    plugin.connect = plugin.symbol<ConnectFn>("ZPAAPI_Connect");
    plugin.disconnect = plugin.symbol<DisconnectFn>("ZPAAPI_Disconnect");
    plugin.release = plugin.symbol<ReleaseFn>("ZPAAPI_ReleaseAttr");
    if (!plugin.init || !plugin.term || !plugin.connect || !plugin.disconnect || !plugin.release) {
        std::fprintf(stderr, "zpahost: %s lacks the life-cycle entry points\n", library.c_str());
        return 2;
    }

    AgentList connection_attrs;
    std::string problem;
    if (!connection_attrs.load(connection_file, false, &problem)) {
        std::fprintf(stderr, "zpahost: %s\n", problem.c_str());
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Host host(plugin, connection_attrs);
    host.init();
    int status = 0;
    while (i < argc && status == 0) {
        const std::string step = argv[i];
        const int left = argc - i - 1;
        bool ok = false;
        if ((step == "connect" || step == "reconnect") && left >= 1) {
            ok = host.connect(argv[i + 1], step == "connect");
            i += 2;
        } else if (step == "action" && left >= 4) {
            ok = host.action(argv[i + 1], argv[i + 2], argv[i + 3], argv[i + 4]);
            i += 5;
        } else if (step == "data" && left >= 3) {
            ok = host.data(argv[i + 1], argv[i + 2], argv[i + 3]);
            i += 4;
        } else if (step == "datawrite" && left >= 4) {
            ok = host.data(argv[i + 1], argv[i + 2], argv[i + 3], argv[i + 4]);
            i += 5;
        } else {
            usage();
            status = 2;
            break;
        }
        if (!ok) status = 2;
    }
    host.finish();
    // The library stays loaded until the process ends, as in the agent.
    return status;
}
