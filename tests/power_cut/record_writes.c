/* Loaded before a program (LD_PRELOAD): records every change it makes to
   files under $TALVO_RECORD_ROOT, in order, into $TALVO_RECORD_LOG, with
   what each flush to disk covers, so that the disk as a power cut would
   leave it can be built for any moment afterwards (power_cut_check.py).
   A record: one byte for the operation, the file's or folder's path, a
   second path, a number and the bytes written. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

enum { OpOpen = 'o', OpWrite = 'w', OpSync = 's', OpRename = 'r', OpLink = 'l', OpUnlink = 'u', OpTruncate = 't' };

static int Log = -1;
static char Root[PATH_MAX];
static size_t RootLength;

static void Start(void)
{
    static int started;
    if (started) return;
    started = 1;
    const char* root = getenv("TALVO_RECORD_ROOT");
    const char* log = getenv("TALVO_RECORD_LOG");
    if (!root || !log) return;
    snprintf(Root, sizeof Root, "%s", root);
    RootLength = strlen(Root);
    int (*realOpen)(const char*, int, ...) = dlsym(RTLD_NEXT, "open");
    Log = realOpen(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}

/* The full name of `path` seen from folder `at`; empty when outside the root. */
static void FullName(int at, const char* path, char* out)
{
    char base[PATH_MAX] = "";
    out[0] = 0;
    if (!path) return;
    if (path[0] == '/') {
        snprintf(out, PATH_MAX, "%s", path);
    } else {
        if (at == AT_FDCWD) {
            if (!getcwd(base, sizeof base)) return;
        } else {
            char link[64];
            snprintf(link, sizeof link, "/proc/self/fd/%d", at);
            const ssize_t n = readlink(link, base, sizeof base - 1);
            if (n < 0) return;
            base[n] = 0;
        }
        snprintf(out, PATH_MAX, "%s/%s", base, path);
    }
    if (strncmp(out, Root, RootLength) != 0) out[0] = 0;
}

static void FdName(int fd, char* out)
{
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, out, PATH_MAX - 1);
    out[n < 0 ? 0 : n] = 0;
    if (strncmp(out, Root, RootLength) != 0) out[0] = 0;
}

static void Put(char op, const char* a, const char* b, int64_t number, const void* bytes, uint32_t size)
{
    if (Log < 0 || !a[0]) return;
    const uint16_t la = (uint16_t)strlen(a), lb = (uint16_t)strlen(b);
    char head[1 + 2 + 2 + 8 + 4];
    head[0] = op;
    memcpy(head + 1, &la, 2);
    memcpy(head + 3, &lb, 2);
    memcpy(head + 5, &number, 8);
    memcpy(head + 13, &size, 4);
    ssize_t (*realWrite)(int, const void*, size_t) = dlsym(RTLD_NEXT, "write");
    realWrite(Log, head, sizeof head);
    realWrite(Log, a, la);
    realWrite(Log, b, lb);
    if (size) realWrite(Log, bytes, size);
}

#define REAL(name) static __typeof__(&name) real_##name; if (!real_##name) real_##name = dlsym(RTLD_NEXT, #name)

static int Opened(int at, const char* path, int flags, int fd)
{
    if (fd < 0) return fd;
    char full[PATH_MAX];
    FullName(at, path, full);
    if ((flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) && full[0]) {
        char real[PATH_MAX];
        FdName(fd, real);
        Put(OpOpen, real[0] ? real : full, "", flags, 0, 0);
    }
    return fd;
}

int open(const char* path, int flags, ...)
{
    Start();
    REAL(open);
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & O_CREAT) ? va_arg(args, mode_t) : 0;
    va_end(args);
    return Opened(AT_FDCWD, path, flags, real_open(path, flags, mode));
}
int open64(const char* path, int flags, ...) __attribute__((alias("open")));

int openat(int at, const char* path, int flags, ...)
{
    Start();
    REAL(openat);
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & O_CREAT) ? va_arg(args, mode_t) : 0;
    va_end(args);
    return Opened(at, path, flags, real_openat(at, path, flags, mode));
}
int openat64(int at, const char* path, int flags, ...) __attribute__((alias("openat")));

ssize_t write(int fd, const void* bytes, size_t size)
{
    Start();
    REAL(write);
    const off_t at = lseek(fd, 0, SEEK_CUR);
    const ssize_t done = real_write(fd, bytes, size);
    if (done > 0 && fd != Log) {
        char name[PATH_MAX];
        FdName(fd, name);
        Put(OpWrite, name, "", at, bytes, (uint32_t)done);
    }
    return done;
}

ssize_t pwrite(int fd, const void* bytes, size_t size, off_t at)
{
    Start();
    REAL(pwrite);
    const ssize_t done = real_pwrite(fd, bytes, size, at);
    if (done > 0) {
        char name[PATH_MAX];
        FdName(fd, name);
        Put(OpWrite, name, "", at, bytes, (uint32_t)done);
    }
    return done;
}
ssize_t pwrite64(int fd, const void* bytes, size_t size, off_t at) __attribute__((alias("pwrite")));

static int Synced(int fd, int result)
{
    if (result == 0) {
        char name[PATH_MAX];
        FdName(fd, name);
        struct stat st;
        Put(OpSync, name, fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) ? "folder" : "", 0, 0, 0);
    }
    return result;
}

int fsync(int fd)
{
    Start();
    REAL(fsync);
    return Synced(fd, real_fsync(fd));
}

int fdatasync(int fd)
{
    Start();
    REAL(fdatasync);
    return Synced(fd, real_fdatasync(fd));
}

int ftruncate(int fd, off_t length)
{
    Start();
    REAL(ftruncate);
    const int result = real_ftruncate(fd, length);
    if (result == 0) {
        char name[PATH_MAX];
        FdName(fd, name);
        Put(OpTruncate, name, "", length, 0, 0);
    }
    return result;
}

static int Moved(char op, int fromAt, const char* from, int toAt, const char* to, int result)
{
    if (result == 0) {
        char a[PATH_MAX], b[PATH_MAX];
        FullName(fromAt, from, a);
        FullName(toAt, to, b);
        Put(op, a, b, 0, 0, 0);
    }
    return result;
}

int rename(const char* from, const char* to)
{
    Start();
    REAL(rename);
    return Moved(OpRename, AT_FDCWD, from, AT_FDCWD, to, real_rename(from, to));
}

int renameat(int fromAt, const char* from, int toAt, const char* to)
{
    Start();
    REAL(renameat);
    return Moved(OpRename, fromAt, from, toAt, to, real_renameat(fromAt, from, toAt, to));
}

int linkat(int fromAt, const char* from, int toAt, const char* to, int flags)
{
    Start();
    REAL(linkat);
    return Moved(OpLink, fromAt, from, toAt, to, real_linkat(fromAt, from, toAt, to, flags));
}

int link(const char* from, const char* to)
{
    Start();
    REAL(link);
    return Moved(OpLink, AT_FDCWD, from, AT_FDCWD, to, real_link(from, to));
}

int unlinkat(int at, const char* path, int flags)
{
    Start();
    REAL(unlinkat);
    return Moved(OpUnlink, at, path, at, "", real_unlinkat(at, path, flags));
}

int unlink(const char* path)
{
    Start();
    REAL(unlink);
    return Moved(OpUnlink, AT_FDCWD, path, AT_FDCWD, "", real_unlink(path));
}
