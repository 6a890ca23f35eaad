/* The agent library's file layer: descriptors opened in named modes that fix flags, lock,
 * permission bits and owner; buffered streams; reads and writes; status, owners and permissions;
 * copy, rename and delete; directory listing and cleaning; the free-disk-space check. */
#ifndef OS_FILE_H
#define OS_FILE_H

#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "cmpltfrm.h"
#include "gm_time.h" /* DATETIME_D_typ */

/* Fixed-size text buffers of the agent library (sizes include the terminating NUL). */
typedef char PATHNAME_D_typ[4097];
typedef char USERNAME_D_typ[31];
typedef char LIBRARY_D_typ[256];
typedef char MEMBER_D_typ[65];

typedef int OS_FD_typ;

/* An open directory stream: the directory handle, null when closed. */
typedef DIR* OS_FILE_LIST_typ;
typedef DIR* CM_DIR_HDL_D_typ;

typedef enum {
    OS_FILE_CREATE = 0,
    OS_FILE_LOCK,
    OS_FILE_LOCK_NOWAIT,
    OS_FILE_NOLOCK,
    OS_FILE_READ,
    OS_FILE_READ_NOLOCK,
    OS_FILE_WRITE,
    OS_FILE_APPEND,
    OS_FILE_TRUNC,
    OS_FILE_UPDATE,
    OS_FILE_WRITE_BINARY,
    OS_FILE_APPEND_BINARY,
    OS_FILE_READ_BINARY,
    OS_FILE_READ_BINARY_NOLOCK,
    OS_FILE_CREATE_777,
    OS_FILE_WRITE_NOLOCK,
    OS_FILE_WRITE_CHECK_DISKSPACE,
    OS_FILE_CREATE_CHECK_DISKSPACE
} OS_FILE_MODE_typ;

typedef enum {
    OS_FILE_ACCESS_EXIST = 0,
    OS_FILE_ACCESS_EXECUTE = 1,
    OS_FILE_ACCESS_WRITE = 2,
    OS_FILE_ACCESS_READ = 3
} OS_FILE_ACCESS_typ;

typedef enum { OS_FILE_BEGIN = 0, OS_FILE_CURR = 1, OS_FILE_END = 2 } OS_FILE_DIRECTION_typ;

/* A 3-bit permission set: read 1, write 2, execute 4. */
typedef enum {
    OS_FILE_NO_PERMISSION = 0,
    OS_FILE_READ_PERMISSION = 1,
    OS_FILE_WRITE_PERMISSION = 2,
    OS_FILE_READ_WRITE_PERMISSION = 3,
    OS_FILE_EXEC_PERMISSION = 4,
    OS_FILE_READ_EXEC_PERMISSION = 5,
    OS_FILE_WRITE_EXEC_PERMISSION = 6,
    OS_FILE_READ_WRITE_EXEC_PERMISSION = 7
} OS_FILE_PERMISSION_typ;

CM_EXTERN_C_BEGIN

/* Descriptors */
CM_RC OS_FILE_open(OS_FD_typ* fd, const char* file_name, OS_FILE_MODE_typ mode);
CM_RC OS_FILE_close(OS_FD_typ fd);
CM_RC OS_FILE_release(OS_FD_typ fd);
CM_RC OS_FILE_lock(const char* file_name, OS_FD_typ fd, int mode); /* 0 unlock, 1 lock, 2 try, 3 test */
int lock_reg(int fd, int cmd, int type, off_t offset, int whence, off_t len);
/* Reads up to *size bytes; buf must hold *size + 1 bytes. *size becomes the count + 1. */
CM_RC OS_FILE_read(OS_FD_typ fd, char* buf, int* size);
CM_RC OS_FILE_write(OS_FD_typ fd, const char* buf, int length);
long OS_FILE_lseek(OS_FD_typ fd, long offset, OS_FILE_DIRECTION_typ direction);
/* One line of at most max - 1 bytes, without its newline, into a buffer of max bytes. */
CM_RC OS_FILE_gets(char* line, int max, OS_FD_typ fd);

/* Streams */
CM_RC OS_FILE_fopen(const char* file_name, FILE** stream, OS_FILE_MODE_typ mode);
CM_RC OS_FILE_fclose(FILE* stream);
CM_RC OS_FILE_fgets(char* line, int max, FILE* stream);
CM_RC OS_FILE_fputs(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
void OS_FILE_fprintf(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
CM_RC OS_FILE_fread(char* buf, int max, int* length, FILE* stream);
CM_RC OS_FILE_fwrite(const char* buf, int length, FILE* stream);
int OS_FILE_feof(FILE* stream);

/* Files by name */
CM_RC OS_FILE_stat(const char* file_name, long* size, long* lines, char* creation_date, char* modification_date);
CM_RC OS_FILE_stat64(const char* file_name, int64_t* size, long* lines, char* creation_date, char* modification_date);
CM_RC OS_FILE_stat_short(const char* file_name, struct stat* status);
CM_RC OS_FILE_check_existence(const char* file_name, OS_FILE_ACCESS_typ access_kind);
int OS_FILE_is_dir(const char* path);
CM_RC OS_FILE_is_exist(const char* file_name);
CM_RC OS_FILE_create(const char* file_name);
CM_RC OS_FILE_dir_entry_add(const char* file_name);
CM_RC OS_FILE_dir_entry_delete(const char* file_name);
CM_RC OS_FILE_create_empty(const char* file_name);
CM_RC OS_FILE_delete(const char* file_name);
CM_RC OS_FILE_rename(const char* old_name, const char* new_name);
CM_RC OS_FILE_copy(const char* source, const char* destination, OS_FILE_MODE_typ mode);
CM_RC OS_FILE_get_file_owner(const char* path, uid_t* uid, gid_t* gid);
CM_RC OS_FILE_set_file_owner(const char* path, uid_t uid, gid_t gid);
CM_RC OS_FILE_set_agent_owner(const char* path);
CM_RC OS_FILE_chown(const char* owner, const char* file_name);
CM_RC OS_FILE_set_permission(const char* path, OS_FILE_PERMISSION_typ owner, OS_FILE_PERMISSION_typ group,
                             OS_FILE_PERMISSION_typ general);
CM_RC OS_FILE_width(const char* file_name, long* longest, long max_supported);
CM_RC OS_FILE_translate_pc_to_unix(char* buf, int* length);
/* buf must hold twice *length bytes. */
CM_RC OS_FILE_translate_unix_to_pc(char* buf, int* length);

/* Directories. OS_FILE_dir_next writes the entry name into a buffer of at least 256 bytes. */
CM_RC OS_FILE_dir_open(OS_FILE_LIST_typ* list, const char* dir_name);
CM_RC OS_FILE_dir_next(OS_FILE_LIST_typ* list, char* name);
CM_RC OS_FILE_dir_close(OS_FILE_LIST_typ* list);
long OS_FILE_dir_telldir(OS_FILE_LIST_typ* list);
CM_RC OS_FILE_dir_seekdir(OS_FILE_LIST_typ* list, long position);
CM_RC OS_FILE_delete_files(const char* path);
CM_RC OS_FILE_delete_pattern(const char* dir_name, const char* pattern);
CM_RC OS_FILE_dir_rm_old_files(const char* dir_name, int keep_days);
CM_RC OS_FILE_dir_delete(const char* dir_name);

/* Disk space: 1 enough, 56 enough but below the recommended amount, 2 too little or unknown. */
CM_RC OS_FILE_checkDiskFreeSpace(const char* file_name);

CM_EXTERN_C_END

#endif
