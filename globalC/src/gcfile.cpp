/* The library's file layer: open, read, seek and close data files (regular files only, opened
 * without waiting on a FIFO), map sections of them read-only and unmap them again (each view
 * remembers its whole mapping), and write a file through a ".tmp" companion that replaces it on
 * close. */
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>
#include <new>

#include "gc_internal.h"
#include "os_file_nofollow.h"

namespace {

struct Mapping {
    void* base;
    size_t length;
};

// Every view handed out by GCLoadFile, with the mapping behind it.
std::mutex& views_mutex() {
    static std::mutex m;
    return m;
}
std::map<const void*, Mapping>& views() {
    static std::map<const void*, Mapping> v;
    return v;
}

uint32_t open_failure_code(int err) {
    if (err == ENOENT || err == ENOTDIR) return GC_ERR_NOFILE;
    if (err == EACCES || err == EPERM || err == EROFS) return GC_ERR_ACCESS;
    return GC_ERR_OS;
}

void set_rc(uint32_t* rc, uint32_t value) {
    if (rc) *rc = value;
}

std::string temp_path(const GCFile& f) { return f.base + ".tmp"; }
std::string target_path(const GCFile& f) { return f.has_ext ? f.base + "." + f.ext : f.base; }

}  // namespace

extern "C" GCFile* GCOpenFile(int /*context*/, const char* path, int mode, int nobackup, uint32_t* rc) {
    set_rc(rc, GC_OK);
    if (!path || mode < GC_FILE_READ || mode > GC_FILE_UPDATE) {
        set_rc(rc, GC_ERR_FILEMODE);
        return nullptr;
    }
    struct stat st {};
    const bool exists = ::stat(path, &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        set_rc(rc, GC_ERR_NOFILE);
        return nullptr;
    }
    auto* file = new (std::nothrow) GCFile;
    if (!file) {
        set_rc(rc, GC_ERR_NOMEM);
        return nullptr;
    }
    file->mode = mode;
    std::string open_path = path;
    int flags = O_RDONLY;
    if (mode == GC_FILE_UPDATE) flags = O_RDWR;
    if (mode == GC_FILE_CREATE) {
        flags = O_WRONLY | O_CREAT | O_TRUNC;
        if (!nobackup && exists) {
            const std::string p = path;
            const size_t slash = p.rfind('/');
            const size_t dot = p.rfind('.');
            const bool has_dot = dot != std::string::npos && (slash == std::string::npos || dot > slash);
            file->backup = true;
            file->base = has_dot ? p.substr(0, dot) : p;
            file->has_ext = has_dot;
            if (has_dot) file->ext = p.substr(dot + 1);
            open_path = temp_path(*file);
        }
    }
    // Locale data may stand behind links, but the open never waits on a FIFO: only a regular file.
    file->fd = os_file::open_data_file(open_path.c_str(), flags, 0644);
    if (file->fd < 0) {
        set_rc(rc, open_failure_code(errno));
        delete file;
        return nullptr;
    }
    return file;
}

extern "C" int GCCloseFile(GCFile* file, int discard) {
    if (!file) return 1;
    int result = ::close(file->fd) == 0 ? 0 : 1;
    if (file->backup) {
        const std::string tmp = temp_path(*file);
        const std::string target = target_path(*file);
        if (discard) {
            ::unlink(tmp.c_str());
        } else if ((::access(target.c_str(), F_OK) == 0 && ::access(target.c_str(), W_OK) != 0) ||
                   std::rename(tmp.c_str(), target.c_str()) != 0) {
            result = 1;
        }
    }
    delete file;
    return result;
}

extern "C" uint32_t GCReadFile(GCFile* file, void* buffer, uint32_t length, uint32_t* rc) {
    set_rc(rc, GC_OK);
    if (!file || file->mode == GC_FILE_CREATE) {
        set_rc(rc, GC_ERR_FILEMODE);
        return 0;
    }
    uint32_t done = 0;
    auto* out = static_cast<char*>(buffer);
    while (done < length) {
        const ssize_t n = ::read(file->fd, out + done, length - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            set_rc(rc, GC_ERR_IO);
            break;
        }
        if (n == 0) {
            file->eof = true;
            break;
        }
        done += static_cast<uint32_t>(n);
    }
    return done;
}

extern "C" int GCSeekFile(GCFile* file, long offset, uint32_t origin) {
    if (!file) return 1;
    int whence;
    switch (origin) {
    case GC_SEEK_SET: whence = SEEK_SET; break;
    case GC_SEEK_CUR: whence = SEEK_CUR; break;
    case GC_SEEK_END: whence = SEEK_END; break;
    default: return 1;
    }
    if (::lseek(file->fd, offset, whence) < 0) return 1;
    file->eof = false;
    return 0;
}

extern "C" uint32_t GCFileSize(GCFile* file) {
    struct stat st {};
    if (!file || ::fstat(file->fd, &st) != 0 || st.st_size < 0 || st.st_size >= 0xFFFFFFFFLL) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(st.st_size);
}

extern "C" const void* GCLoadFile(GCFile* file, uint32_t offset, uint32_t size, uint32_t* rc) {
    set_rc(rc, GC_OK);
    if (!file || file->mode == GC_FILE_CREATE) {
        set_rc(rc, GC_ERR_FILEMODE);
        return nullptr;
    }
    if (size == 0) return nullptr;
    // A view past the end of the file would fault on first use: refuse it here.
    const uint32_t file_size = GCFileSize(file);
    if (file_size == 0xFFFFFFFFu || static_cast<uint64_t>(offset) + size > file_size) {
        set_rc(rc, GC_ERR_IO);
        return nullptr;
    }
    const uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
    const uint64_t start = offset - offset % page;
    const size_t length = static_cast<size_t>(offset + static_cast<uint64_t>(size) - start);
    void* base = ::mmap(nullptr, length, PROT_READ, MAP_SHARED | MAP_NORESERVE, file->fd, static_cast<off_t>(start));
    if (base == MAP_FAILED) {
        set_rc(rc, GC_ERR_IO);
        return nullptr;
    }
    const void* view = static_cast<const char*>(base) + (offset - start);
    std::lock_guard lock(views_mutex());
    views()[view] = Mapping{base, length};
    return view;
}

extern "C" uint32_t GCUnloadFile(const void* view) {
    Mapping m{};
    {
        std::lock_guard lock(views_mutex());
        auto it = views().find(view);
        if (it == views().end()) return GC_ERR_UNMAP;
        m = it->second;
        views().erase(it);
    }
    return ::munmap(m.base, m.length) == 0 ? GC_OK : GC_ERR_UNMAP;
}
