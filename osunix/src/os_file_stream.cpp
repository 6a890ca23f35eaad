/* File layer, buffered streams: OS_FILE_fopen with its writing modes (widened permission bits,
 * exclusive lock, unbuffered) and reading mode (a regular file only, never through a link at its
 * name, never waiting on a FIFO), and the line, formatted and block reads and writes
 * on a stream. */
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "os_diag.h"
#include "os_file.h"
#include "os_file_internal.h"
#include "os_file_nofollow.h"

namespace {

constexpr const char* kFopen = "OS_FILE_fopen";
constexpr size_t kFputsBuffer = 5000;

struct StreamMode {
    const char* text;  // the mode the stream is opened with
    int flags;         // open flags of a writing stream (0 for reading)
    bool truncate;
};

StreamMode stream_mode(OS_FILE_MODE_typ mode) {
    switch (mode) {
    case OS_FILE_WRITE: return {"w", O_WRONLY | O_CREAT, true};
    case OS_FILE_APPEND: return {"a", O_WRONLY | O_CREAT | O_APPEND, false};
    case OS_FILE_WRITE_BINARY: return {"wb", O_WRONLY | O_CREAT, true};
    default: return {"r", 0, false};
    }
}

CM_RC open_failed(const char* name, const char* mode_text, int err) {
    errno = err;
    os_file::note_refusal(kFopen, name);
    DIAG_TRACE(1, "%s failed to open file: %s. mode: %s. errno=%d, %s", kFopen, name, mode_text, err, strerror(err));
    return CM_RC_FAIL;
}

// A writing stream: the file gets at least rw-r--r--, is locked exclusively (waiting), and only
// then emptied, so that a second writer cannot cut short a file the first is still writing.
CM_RC open_writer(const char* name, FILE** stream, const StreamMode& mode) {
    int fd = os_file::open_regular(name, mode.flags, 0666);
    if (fd < 0) return open_failed(name, mode.text, errno);
    struct stat status;
    if (fstat(fd, &status) == 0) fchmod(fd, (status.st_mode & 07777) | 0644);
    if (lockf(fd, F_LOCK, 0) != 0) DIAG_ERROR("%s : lockf : %s", kFopen, strerror(errno));
    if (mode.truncate && ftruncate(fd, 0) != 0) {
        int err = errno;
        close(fd);
        return open_failed(name, mode.text, err);
    }
    FILE* file = fdopen(fd, mode.text);
    if (!file) {
        int err = errno;
        close(fd);
        return open_failed(name, mode.text, err);
    }
    setvbuf(file, nullptr, _IONBF, 0);
    *stream = file;
    return CM_RC_OK;
}

}  // namespace

CM_EXTERN_C_BEGIN

CM_RC OS_FILE_fopen(const char* file_name, FILE** stream, OS_FILE_MODE_typ mode) {
    if (!file_name || !stream) return CM_RC_FAIL;
    StreamMode how = stream_mode(mode);
    if (how.flags != 0) return open_writer(file_name, stream, how);
    // Without waiting on a FIFO and only a regular file: anything else is unreadable.
    const int fd = os_file::open_regular(file_name, O_RDONLY);
    if (fd < 0) return open_failed(file_name, how.text, errno);
    FILE* file = fdopen(fd, how.text);
    if (!file) {
        const int err = errno;
        close(fd);
        return open_failed(file_name, how.text, err);
    }
    *stream = file;
    return CM_RC_OK;
}

CM_RC OS_FILE_fclose(FILE* stream) {
    if (!stream) return CM_RC_FAIL;
    return fclose(stream) == 0 ? CM_RC_OK : CM_RC_FAIL;
}

CM_RC OS_FILE_fgets(char* line, int max, FILE* stream) {
    if (!line || max < 1) return CM_RC_FAIL;
    line[0] = '\0';
    if (!stream || !fgets(line, max, stream)) {
        line[0] = '\0';
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

CM_RC OS_FILE_fputs(FILE* stream, const char* format, ...) {
    if (!stream || !format) return CM_RC_FAIL;
    char text[kFputsBuffer];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (fputs(text, stream) < 0 || fputc('\n', stream) == EOF) {
        int err = errno;
        DIAG_ERROR("OS_FILE_fputs: Failed to write: '%s'", text);
        DIAG_ERROR("OS_FILE_fputs: Failed with error number %d: '%s'", err, strerror(err));
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

void OS_FILE_fprintf(FILE* stream, const char* format, ...) {
    if (!stream || !format) return;
    va_list args;
    va_start(args, format);
    vfprintf(stream, format, args);
    va_end(args);
}

CM_RC OS_FILE_fread(char* buf, int max, int* length, FILE* stream) {
    if (!buf || max < 0 || !length || !stream) return CM_RC_FAIL;
    size_t got = fread(buf, 1, static_cast<size_t>(max), stream);
    *length = static_cast<int>(got);
    if (got > 0) DIAG_TRACE(4, "File rad success (%d chars)", *length);
    if (ferror(stream)) {
        DIAG_TRACE(2, "File read error: %s", strerror(errno));
        return CM_RC_FAIL;
    }
    return feof(stream) ? CM_RC_EOF : CM_RC_OK;
}

CM_RC OS_FILE_fwrite(const char* buf, int length, FILE* stream) {
    if (!buf || length < 0 || !stream) return CM_RC_FAIL;
    size_t put = fwrite(buf, 1, static_cast<size_t>(length), stream);
    if (fflush(stream) != 0 || ferror(stream) || put != static_cast<size_t>(length)) {
        DIAG_TRACE(2, "File write error: %s", strerror(errno));
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

int OS_FILE_feof(FILE* stream) { return stream ? feof(stream) : 1; }

CM_EXTERN_C_END
