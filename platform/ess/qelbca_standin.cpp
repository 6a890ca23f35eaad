// Secure-communication provider stand-in (libqelbca.so), signed at build like a real provider.
// Profiles keep their store folder (the profile's dconf); the password store (options 18-20)
// keeps labels and data of any bytes, length-prefixed, in one file of mode 0600 in that folder,
// rewritten through a temporary file and a rename, so that it outlives unloads and processes.
// Sessions pass the bytes through the caller's procedures, or the socket whose descriptor is the
// first field of the caller's connection handle, and answer -32 to a handshake as many times as
// the profile's mconf says ("retries=N"). Every entry called is appended to the journal file named
// by QELBCA_JOURNAL (an entry called with another profile than one of its own is marked
// "!profile"); no secret reaches the journal. Links nothing of the product.
// TLS mode: an mconf that also names ";cert=<pem>;key=<pem>" (a server's own certificate) or
// ";ca=<pem>" (the authority a client checks the server against) runs OpenSSL on the socket of the
// connection handle's first field instead of passing bytes through: handshakes answer 1 when the
// session stands, -32 while they wait for the peer, -1 on failure (the reason in the last error);
// reads and writes answer -32 when the socket would block and 0 when the peer has closed.
#define _GNU_SOURCE 1
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include "bca_functions.h"
#include "qel_testmod.h"

namespace {

constexpr std::uint32_t kMagic = 0x51424341;
constexpr const char* kStoreName = "qelbca.store";
constexpr const char* kVersion = "qelbca stand-in 1.0";

struct Session {
    void* h = nullptr;
    ESS_ReadProc rproc = nullptr;
    ESS_WriteProc wproc = nullptr;
    bool established = false;
    int id = 0;
    SSL* ssl = nullptr;  // TLS mode
};

struct Profile {
    std::uint32_t magic = kMagic;
    bool server = false;
    std::string dir;  // the store folder
    int retries = 0;  // -32 answers before a handshake goes through
    int remaining = 0;
    std::string client_name, server_name;
    std::string last_error;
    unsigned int log_level = 0;
    std::map<std::string, std::string> attributes;
    std::map<void*, Session> sessions;
    std::set<void*> handed_out;  // secrets given to the caller, freed by CleanUp
    int next_sid = 1;
    std::string cert, key, ca;  // TLS mode when any is set
    SSL_CTX* tls = nullptr;
    bool tls_mode() const { return !cert.empty() || !ca.empty(); }
};

struct ProviderSession {
    Profile* profile;
    Session session;
    int role;
};

void journal(const std::string& line) { qel_standin_journal("QELBCA_JOURNAL", line.data(), line.size()); }

/* The profile behind a provider profile pointer, journaling the entry; nullptr (and a marked
 * journal line) when the pointer is not one of this provider's profiles. */
Profile* entered(void* prf, const std::string& entry) {
    auto* p = static_cast<Profile*>(prf);
    if (!p || p->magic != kMagic) {
        journal(entry + " !profile");
        return nullptr;
    }
    journal(entry);
    return p;
}

// ---- the password store file: records of [u32 label length][label][u32 data length][data]

using Store = std::map<std::string, std::string>;

std::string store_path(const Profile* p) { return p->dir + "/" + kStoreName; }

void put_u32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

bool get_u32(const std::string& in, size_t& at, std::uint32_t& v) {
    if (in.size() - at < 4) return false;
    v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(static_cast<unsigned char>(in[at + i])) << (8 * i);
    at += 4;
    return true;
}

/* The store's records; false when the file exists but cannot be read or is damaged. */
bool load(const Profile* p, Store& store) {
    store.clear();
    FILE* f = std::fopen(store_path(p).c_str(), "rb");
    if (!f) return errno == ENOENT;
    std::string content;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) content.append(buf, n);
    const bool read_ok = !std::ferror(f);
    std::fclose(f);
    if (!read_ok) return false;
    for (size_t at = 0; at < content.size();) {
        std::uint32_t label_len, data_len;
        if (!get_u32(content, at, label_len) || content.size() - at < label_len) return false;
        std::string label = content.substr(at, label_len);
        at += label_len;
        if (!get_u32(content, at, data_len) || content.size() - at < data_len) return false;
        store[label] = content.substr(at, data_len);
        at += data_len;
    }
    return true;
}

void make_folders(const std::string& dir) {
    for (size_t at = dir.find('/', 1); at != std::string::npos; at = dir.find('/', at + 1))
        mkdir(dir.substr(0, at).c_str(), 0700);
    mkdir(dir.c_str(), 0700);
}

bool save(const Profile* p, const Store& store) {
    make_folders(p->dir);
    std::string content;
    for (const auto& [label, data] : store) {
        put_u32(content, static_cast<std::uint32_t>(label.size()));
        content += label;
        put_u32(content, static_cast<std::uint32_t>(data.size()));
        content += data;
    }
    std::string tmp = p->dir + "/." + kStoreName + ".XXXXXX";
    const int fd = mkstemp(tmp.data());  // mode 0600
    if (fd < 0) return false;
    bool ok = write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size()) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || std::rename(tmp.c_str(), store_path(p).c_str()) != 0) {
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

int fail(Profile* p, const std::string& why) {
    p->last_error = "stand-in: " + why;
    return -1;
}

int password_option(Profile* p, ESS_Option* in, ESS_Option* out) {
    Store store;
    if (!load(p, store)) return fail(p, "the password store cannot be read");
    if (in->opcode == ESS_OPT_STORE_PASSWORD) {
        const auto* label = static_cast<const char*>(in->context);
        const char* data = in->allOptions.nameValue.name;
        const int len = in->allOptions.nameValue.value.intValue;
        if (!label || (!data && len > 0) || len < 0) return fail(p, "bad store request");
        store[label] = std::string(data ? data : "", static_cast<size_t>(len));
        return save(p, store) ? 0 : fail(p, "the password store cannot be written");
    }
    const char* label = in->allOptions.name;
    if (!label) return fail(p, "no label");
    auto it = store.find(label);
    if (it == store.end()) return fail(p, std::string("no secret under '") + label + "'");
    if (in->opcode == ESS_OPT_DELETE_PASSWORD) {
        store.erase(it);
        return save(p, store) ? 0 : fail(p, "the password store cannot be written");
    }
    auto* copy = static_cast<char*>(std::malloc(it->second.size() + 1));
    if (!copy) return fail(p, "no memory");
    std::memcpy(copy, it->second.data(), it->second.size());
    copy[it->second.size()] = '\0';
    p->handed_out.insert(copy);
    out->allOptions.nameValue.name = copy;
    out->allOptions.nameValue.value.intValue = static_cast<int>(it->second.size());
    return 0;
}

bool int_attribute(const std::string& name) { return name == "retries"; }

// ---- entries

char* Version(ESS_ModuleHandle*) { return journal("Version"), const_cast<char*>(kVersion); }

ESS_Capability capabilities = {{const_cast<char*>("none")},
                               {const_cast<char*>("pass-through")},
                               {const_cast<char*>("1.0"), nullptr, nullptr},
                               {nullptr},
                               {nullptr},
                               {nullptr},
                               {const_cast<char*>(kVersion)}};
ESS_Capability* Caps(ESS_ModuleHandle*) { return journal("Caps"), &capabilities; }

void* create(bool server, char* host, unsigned short port, char* dconf, char* mconf, int* status) {
    journal(std::string(server ? "CreateServerProfile " : "CreateClientProfile ") + (host ? host : "") + " " +
            std::to_string(port) + " " + (dconf ? dconf : ""));
    auto* p = new Profile();
    p->server = server;
    p->dir = dconf && *dconf ? dconf : ".";
    if (mconf && std::strncmp(mconf, "retries=", 8) == 0) p->retries = std::atoi(mconf + 8);
    const std::string settings = mconf ? mconf : "";
    for (size_t at = 0; at < settings.size();) {
        size_t end = settings.find(';', at);
        if (end == std::string::npos) end = settings.size();
        const std::string item = settings.substr(at, end - at);
        const size_t eq = item.find('=');
        if (eq != std::string::npos) {
            const std::string name = item.substr(0, eq), value = item.substr(eq + 1);
            if (name == "cert") p->cert = value;
            if (name == "key") p->key = value;
            if (name == "ca") p->ca = value;
        }
        at = end + 1;
    }
    p->remaining = p->retries;
    if (status) *status = 0;
    return p;
}
void* CreateClientProfile(char* host, unsigned short port, char* dconf, char* mconf, int* status) {
    return create(false, host, port, dconf, mconf, status);
}
void* CreateServerProfile(char* host, unsigned short port, char* dconf, char* mconf, int* status) {
    return create(true, host, port, dconf, mconf, status);
}
void DumpProfile(void* prf) { entered(prf, "DumpProfile"); }
void SetClientName(void* prf, char* name) {
    if (Profile* p = entered(prf, "SetClientName")) p->client_name = name;
}
void SetServerName(void* prf, char* name) {
    if (Profile* p = entered(prf, "SetServerName")) p->server_name = name;
}
char* GetClientName(void* prf, int* status) {
    Profile* p = entered(prf, "GetClientName");
    if (status) *status = p ? 0 : -1;
    return p ? const_cast<char*>(p->client_name.c_str()) : nullptr;
}
char* GetServerName(void* prf, int* status) {
    Profile* p = entered(prf, "GetServerName");
    if (status) *status = p ? 0 : -1;
    return p ? const_cast<char*>(p->server_name.c_str()) : nullptr;
}
void PlaceHolder() { journal("PlaceHolder"); }
int LoginUser(void* prf, char* user, char**) {
    Profile* p = entered(prf, "LoginUser");
    if (!p) return -1;
    p->attributes["user"] = user;
    return 0;
}
char* GetUserName(void* prf) {
    Profile* p = entered(prf, "GetUserName");
    return p && p->attributes.count("user") ? const_cast<char*>(p->attributes["user"].c_str()) : nullptr;
}

/* A handshake: -32 while answers remain, then the session of h stands. */
int handshake(Profile* p, Session& s) {
    if (p->remaining > 0) {
        --p->remaining;
        return ESS_WOULD_BLOCK;
    }
    p->remaining = p->retries;
    s.established = true;
    if (!s.id) s.id = p->next_sid++;
    return 0;
}

std::string tls_error() {
    char text[256] = {};
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    ERR_clear_error();
    return text;
}

/* The profile's TLS context, made on first use: a server presents its certificate, a client checks
 * the server's against its authority. */
SSL_CTX* tls_context(Profile* p) {
    if (p->tls) return p->tls;
    SSL_CTX* ctx = SSL_CTX_new(p->server ? TLS_server_method() : TLS_client_method());
    if (!ctx) return nullptr;
    bool ok = true;
    if (!p->cert.empty())
        ok = SSL_CTX_use_certificate_chain_file(ctx, p->cert.c_str()) == 1 &&
             SSL_CTX_use_PrivateKey_file(ctx, (p->key.empty() ? p->cert : p->key).c_str(), SSL_FILETYPE_PEM) == 1;
    if (ok && !p->ca.empty()) {
        ok = SSL_CTX_load_verify_locations(ctx, p->ca.c_str(), nullptr) == 1;
        if (!p->server) SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    }
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (!ok) {
        fail(p, "TLS set-up: " + tls_error());
        SSL_CTX_free(ctx);
        return nullptr;
    }
    p->tls = ctx;
    return ctx;
}

/* Answer of an OpenSSL call that did not complete: -32 while the socket would block, 0 when the
 * peer closed, -1 otherwise. */
int tls_answer(Profile* p, SSL* ssl, int rc) {
    switch (SSL_get_error(ssl, rc)) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE: return ESS_WOULD_BLOCK;
    case SSL_ERROR_ZERO_RETURN: return 0;
    case SSL_ERROR_SYSCALL:
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return ESS_WOULD_BLOCK;
        return ERR_peek_error() ? fail(p, "TLS: " + tls_error()) : (rc == 0 ? 0 : fail(p, "TLS: connection lost"));
    default: return fail(p, "TLS: " + tls_error());
    }
}

int tls_handshake(Profile* p, Session& s) {
    if (!s.ssl) {
        SSL_CTX* ctx = tls_context(p);
        if (!ctx) return -1;
        s.ssl = SSL_new(ctx);
        if (!s.ssl || SSL_set_fd(s.ssl, *static_cast<int*>(s.h)) != 1) return fail(p, "TLS: " + tls_error());
        if (p->server)
            SSL_set_accept_state(s.ssl);
        else
            SSL_set_connect_state(s.ssl);
    }
    const int rc = SSL_do_handshake(s.ssl);
    if (rc == 1) {
        s.established = true;
        if (!s.id) s.id = p->next_sid++;
        return 1;
    }
    const int answer = tls_answer(p, s.ssl, rc);
    return answer == 0 ? fail(p, "TLS: the peer closed during the handshake") : answer;
}

void end_session(Session& s);

/* options 1 starts a session on h (a stale one of an earlier connection at that address ends),
 * 2 goes on with the handshake. */
int open_session(void* prf, const char* entry, int options, void* h, ESS_ReadProc rproc, ESS_WriteProc wproc) {
    Profile* p = entered(prf, entry);
    if (!p) return -1;
    Session& s = p->sessions[h];
    if (options == 1) {
        end_session(s);
        s = Session{};
    }
    s.h = h;
    s.rproc = rproc;
    s.wproc = wproc;
    if (p->tls_mode() && !rproc && !wproc) return tls_handshake(p, s);
    return handshake(p, s);
}

void end_session(Session& s) {
    if (!s.ssl) return;
    SSL_shutdown(s.ssl);
    SSL_free(s.ssl);
    s.ssl = nullptr;
}
int Connect(void* prf, int options, void* h, ESS_ReadProc rproc, ESS_WriteProc wproc, char*, char*) {
    return open_session(prf, "Connect", options, h, rproc, wproc);
}
int Accept(void* prf, int options, void* h, ESS_ReadProc rproc, ESS_WriteProc wproc, char*) {
    return open_session(prf, "Accept", options, h, rproc, wproc);
}
int ModuleOption(void* prf, ESS_Option*, ESS_Option*) { return entered(prf, "ModuleOption") ? 0 : -1; }

Session* session_of(Profile* p, void* h) {
    auto it = p ? p->sessions.find(h) : std::map<void*, Session>::iterator();
    if (!p || it == p->sessions.end()) return nullptr;
    return &it->second;
}

int IsEstablished(void* prf, void* h) {
    Session* s = session_of(entered(prf, "IsEstablished"), h);
    return s && s->established ? 1 : 0;
}
int GetSid(void* prf, void* h) {
    Session* s = session_of(entered(prf, "GetSid"), h);
    return s ? s->id : -1;
}
int PeerEvent(void* prf, void*, char*, int len) { return entered(prf, "PeerEvent") ? len : -1; }
void AddAppCallback(void* prf, void*, ESS_AppProc) { entered(prf, "AddAppCallback"); }
void AddHandler(void* prf, void*, ESS_HandlerProc) { entered(prf, "AddHandler"); }

int pass_write(Session& s, char* buf, int len) {
    if (s.wproc) return s.wproc(s.h, buf, len);
    return static_cast<int>(write(*static_cast<int*>(s.h), buf, static_cast<size_t>(len)));
}
int pass_read(Session& s, char* buf, int len) {
    if (s.rproc) return s.rproc(s.h, buf, len);
    return static_cast<int>(read(*static_cast<int*>(s.h), buf, static_cast<size_t>(len)));
}

int Write(void* prf, void* h, char* buf, int len) {
    Profile* p = entered(prf, "Write");
    Session* s = session_of(p, h);
    if (!s || !s->established) return p ? fail(p, "no session") : -1;
    if (s->ssl) {
        const int rc = SSL_write(s->ssl, buf, len);
        return rc > 0 ? rc : tls_answer(p, s->ssl, rc);
    }
    return pass_write(*s, buf, len);
}
int Read(void* prf, void* h, char* buf, int len) {
    Profile* p = entered(prf, "Read");
    Session* s = session_of(p, h);
    if (!s || !s->established) return p ? fail(p, "no session") : -1;
    if (s->ssl) {
        const int rc = SSL_read(s->ssl, buf, len);
        return rc > 0 ? rc : tls_answer(p, s->ssl, rc);
    }
    return pass_read(*s, buf, len);
}
char* ReadEvent(void* prf, void*, int* len) {
    if (entered(prf, "ReadEvent") && len) *len = 0;
    return nullptr;
}
char* PacketBuffer(void* prf, void*, char* buf, int*) { return entered(prf, "PacketBuffer") ? buf : nullptr; }
int Terminate(void* prf, void* h) {
    Profile* p = entered(prf, "Terminate");
    Session* s = session_of(p, h);
    if (!s) return -1;
    end_session(*s);
    p->sessions.erase(h);
    return 0;
}
int Close(void* prf) {
    Profile* p = entered(prf, "Close");
    if (!p) return -1;
    for (void* secret : p->handed_out) std::free(secret);
    for (auto& [h, s] : p->sessions) end_session(s);
    if (p->tls) SSL_CTX_free(p->tls);
    p->magic = 0;
    delete p;
    return 0;
}
char* Log(void* prf, int, char* str) { return entered(prf, "Log") ? str : nullptr; }
char* ErrList(void* prf, int) {
    Profile* p = entered(prf, "ErrList");
    return p ? const_cast<char*>(p->last_error.c_str()) : nullptr;
}
int CleanUp(void* prf, void* obj) {
    Profile* p = entered(prf, "CleanUp");
    if (!p || !p->handed_out.erase(obj)) return -1;
    std::free(obj);
    return 0;
}
int Option(void* prf, ESS_Option* in, ESS_Option* out) {
    Profile* p = entered(prf, "Option " + std::to_string(in ? in->opcode : -1));
    if (!p || !in || !out) return -1;
    switch (in->opcode) {
    case ESS_OPT_LOG_HANDLER: return 0;
    case ESS_OPT_SET_LOG_LEVEL: p->log_level = in->allOptions.level; return 0;
    case ESS_OPT_GET_LOG_LEVEL: out->allOptions.level = p->log_level; return 0;
    case ESS_OPT_GET_ATTRIBUTE: {
        const std::string name = in->allOptions.nameValue.name ? in->allOptions.nameValue.name : "";
        if (int_attribute(name)) {
            out->allOptions.nameValue.value.intValue = p->retries;
            return 0;
        }
        auto it = p->attributes.find(name);
        if (it == p->attributes.end()) return fail(p, "no attribute " + name);
        out->allOptions.nameValue.value.charValue = const_cast<char*>(it->second.c_str());
        return 0;
    }
    case ESS_OPT_SET_ATTRIBUTE: {
        const std::string name = in->allOptions.nameValue.name ? in->allOptions.nameValue.name : "";
        if (int_attribute(name))
            p->retries = p->remaining = in->allOptions.nameValue.value.intValue;
        else
            p->attributes[name] =
                in->allOptions.nameValue.value.charValue ? in->allOptions.nameValue.value.charValue : "";
        return 0;
    }
    case ESS_OPT_LAST_ERROR:
        out->allOptions.nameValue.value.charValue = const_cast<char*>(p->last_error.c_str());
        return 0;
    case ESS_OPT_GET_PASSWORD:
    case ESS_OPT_STORE_PASSWORD:
    case ESS_OPT_DELETE_PASSWORD: return password_option(p, in, out);
    default: return 0;
    }
}
int SessionOption(void* prf, void* h, ESS_Option* in, ESS_Option* out) {
    Profile* p = entered(prf, "SessionOption");
    if (!session_of(p, h) || !in || !out) return -1;
    if (in->opcode == ESS_OPT_LAST_ERROR)
        out->allOptions.nameValue.value.charValue = const_cast<char*>(p->last_error.c_str());
    return 0;
}
int GetProtocol(void* prf) { return entered(prf, "GetProtocol") ? 0 : -1; }
int Peek(void* prf, void*) { return entered(prf, "Peek") ? 0 : -1; }
int Impersonate(void* prf, void*) { return entered(prf, "Impersonate") ? 0 : -1; }
int Revert(void* prf, void*) { return entered(prf, "Revert") ? 0 : -1; }

ProviderSession* provider_session(Profile* p, BCA_SESSION* s) {
    auto* ps = reinterpret_cast<ProviderSession*>(s);
    return p && ps && ps->profile == p ? ps : nullptr;
}
BCA_SESSION* SessionCreate(void* prf, int role, int, void* h, ESS_ReadProc rproc, ESS_WriteProc wproc, char*, char*) {
    Profile* p = entered(prf, "SessionCreate");
    if (!p) return nullptr;
    auto* s = new ProviderSession{p, Session{h, rproc, wproc, false, 0}, role};
    return reinterpret_cast<BCA_SESSION*>(s);
}
int SessionAccept(void* prf, BCA_SESSION* s) {
    Profile* p = entered(prf, "SessionAccept");
    ProviderSession* ps = provider_session(p, s);
    return ps ? handshake(p, ps->session) : -1;
}
int SessionConnect(void* prf, BCA_SESSION* s) {
    Profile* p = entered(prf, "SessionConnect");
    ProviderSession* ps = provider_session(p, s);
    return ps ? handshake(p, ps->session) : -1;
}
int SessionWrite(void* prf, BCA_SESSION* s, char* buf, int len) {
    ProviderSession* ps = provider_session(entered(prf, "SessionWrite"), s);
    return ps && ps->session.established ? pass_write(ps->session, buf, len) : -1;
}
int SessionRead(void* prf, BCA_SESSION* s, char* buf, int len) {
    ProviderSession* ps = provider_session(entered(prf, "SessionRead"), s);
    return ps && ps->session.established ? pass_read(ps->session, buf, len) : -1;
}
void SessionTerminate(void* prf, BCA_SESSION* s) { delete provider_session(entered(prf, "SessionTerminate"), s); }
int SessionIsEstablished(void* prf, BCA_SESSION* s) {
    ProviderSession* ps = provider_session(entered(prf, "SessionIsEstablished"), s);
    return ps && ps->session.established ? 1 : 0;
}
int SessionOptionSess(void* prf, BCA_SESSION* s, ESS_Option* in, ESS_Option* out) {
    Profile* p = entered(prf, "SessionOptionSess");
    if (!provider_session(p, s) || !in || !out) return -1;
    if (in->opcode == ESS_OPT_LAST_ERROR)
        out->allOptions.nameValue.value.charValue = const_cast<char*>(p->last_error.c_str());
    return 0;
}
int SessionPeek(void* prf, BCA_SESSION* s) { return provider_session(entered(prf, "SessionPeek"), s) ? 0 : -1; }
int SessionImpersonate(void* prf, BCA_SESSION* s) {
    return provider_session(entered(prf, "SessionImpersonate"), s) ? 0 : -1;
}
int SessionRevert(void* prf, BCA_SESSION* s) { return provider_session(entered(prf, "SessionRevert"), s) ? 0 : -1; }

FunctionPtrs table = {
    Version,
    Caps,
    CreateClientProfile,
    CreateServerProfile,
    DumpProfile,
    SetClientName,
    SetServerName,
    GetClientName,
    GetServerName,
    PlaceHolder,
    PlaceHolder,
    PlaceHolder,
    PlaceHolder,
    PlaceHolder,
    PlaceHolder,
    PlaceHolder,
    LoginUser,
    GetUserName,
    Connect,
    Accept,
    ModuleOption,
    IsEstablished,
    GetSid,
    PeerEvent,
    AddAppCallback,
    AddHandler,
    PlaceHolder,
    Write,
    Read,
    ReadEvent,
    PacketBuffer,
    Terminate,
    Close,
    Log,
    ErrList,
    CleanUp,
    Option,
    SessionOption,
    GetProtocol,
    Peek,
    Impersonate,
    Revert,
    SessionCreate,
    SessionAccept,
    SessionConnect,
    SessionWrite,
    SessionRead,
    SessionTerminate,
    SessionIsEstablished,
    SessionOptionSess,
    SessionPeek,
    SessionImpersonate,
    SessionRevert,
};

}  // namespace

QEL_STANDIN_MODULE(&capabilities, &table)
