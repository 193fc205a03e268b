// The file system on POSIX (Linux, and Emscripten's subset: every call here
// is one it offers, and the few it may lack have a fallback).
#include "framework/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif
#ifndef O_NOFOLLOW
#define O_NOFOLLOW 0
#endif
#ifndef O_DIRECTORY
#define O_DIRECTORY 0
#endif

namespace {

// A save streamed into a side file, put in place at its end.
struct Stream {
    int folder = -1;
    int fd = -1;
    char side[64] = "";
    FileFacts target;
};

// The last failure's words, and the save under way.
struct FileSystemState {
    char LastError[256] = "";
    Stream Streaming;
};
FileSystemState Files;

FileStatus Fail(FileStatus status, int error)
{
    std::snprintf(Files.LastError, sizeof Files.LastError, "%s", std::strerror(error));
    return status;
}

FileStatus StatusOf(int error)
{
    switch (error) {
    case ENOSPC:
    case EFBIG:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return FileNoRoom;
    case EACCES:
    case EPERM:
        return FileNoAccess;
    case EROFS:
        return FileReadOnly;
    default:
        return FileFailed;
    }
}

FileStatus FailWith(int error) { return Fail(StatusOf(error), error); }

// Past a file-size limit a write must fail with EFBIG, not end the process.
void IgnoreFileSizeSignal()
{
#ifdef SIGXFSZ
    static bool done = false;
    if (!done) std::signal(SIGXFSZ, SIG_IGN);
    done = true;
#endif
}

size_t NameStart(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

// The folder part, "." for a bare name.
std::string FolderOf(const std::string& path)
{
    const size_t at = NameStart(path);
    if (at == 0) return ".";
    return at == 1 ? "/" : path.substr(0, at - 1);
}

bool SameFile(const struct stat& st, const FileFacts* facts)
{
    return S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_dev) == facts->identity[0] &&
           static_cast<uint64_t>(st.st_ino) == facts->identity[1];
}

bool WriteAll(int fd, const uint8_t* bytes, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd, bytes + done, size - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Not every file system can flush a folder; the rename stands regardless.
void SyncFolder(int folder)
{
    fsync(folder);
}

int OpenFolder(const std::string& folder)
{
    return open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// A side file under a name made of the process, a counter and the clock,
// created exclusively: a name someone else holds is never opened.
int CreateSideFile(int folder, char* name, size_t size, mode_t mode)
{
    static uint32_t counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        std::snprintf(name, size, "~talvo-%x-%x-%lx.save", static_cast<unsigned>(getpid()), ++counter,
                      static_cast<unsigned long>(now.tv_nsec) ^ static_cast<unsigned long>(now.tv_sec));
        const int fd = openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

// Gives `from` the name `to` unless `to` is in use; errno EEXIST then.
bool PlaceWithoutReplacing(int fromFolder, const char* from, int toFolder, const char* to)
{
    if (linkat(fromFolder, from, toFolder, to, 0) == 0) {
        unlinkat(fromFolder, from, 0);
        return true;
    }
    if (errno == EEXIST || errno == ENOENT || errno == ENAMETOOLONG || errno == ENOSPC) return false;
    // No hard links here: look, then rename.
    struct stat st;
    if (fstatat(toFolder, to, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    if (errno != ENOENT) return false;
    return renameat(fromFolder, from, toFolder, to) == 0;
}

bool CopyPath(const std::string& path, FileFacts* facts)
{
    if (path.size() >= sizeof facts->path) return false;
    std::memcpy(facts->path, path.c_str(), path.size() + 1);
    facts->nameAt = static_cast<int32_t>(NameStart(path));
    return true;
}

} // namespace

const char* FileLastError()
{
    return Files.LastError;
}

std::FILE* FileOpenRegular(const char* name, const char* mode)
{
    int64_t length = 0;
    return FileOpenRegular(name, mode, &length);
}

std::FILE* FileOpenRegular(const char* name, const char* mode, int64_t* length)
{
    struct stat st;
    if (!name || stat(name, &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    // Checked again on the open file: the name may have changed meanwhile.
    const int fd = open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return nullptr;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    std::FILE* file = fdopen(fd, mode);
    if (!file) close(fd);
    *length = static_cast<int64_t>(st.st_size);
    return file;
}

FileStatus FileLook(const char* name, FileFacts* facts)
{
    std::memset(facts, 0, sizeof *facts);
    if (!name || !name[0]) return Fail(FileFailed, ENOENT);
    struct stat st;
    if (stat(name, &st) == 0) {
        if (!S_ISREG(st.st_mode)) return Fail(FileNotRegular, EINVAL);
        char* real = realpath(name, nullptr);
        if (!real) return FailWith(errno);
        const bool fits = CopyPath(real, facts);
        std::free(real);
        if (!fits) return Fail(FileFailed, ENAMETOOLONG);
        const int fd = open(facts->path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) return FailWith(errno);
        struct stat opened;
        if (fstat(fd, &opened) != 0 || opened.st_dev != st.st_dev || opened.st_ino != st.st_ino ||
            !S_ISREG(opened.st_mode)) {
            close(fd);
            return Fail(FileChanged, EAGAIN);
        }
        ssize_t got;
        do got = pread(fd, facts->head, sizeof facts->head, 0);
        while (got < 0 && errno == EINTR);
        const int readError = errno;
        close(fd);
        if (got < 0) return Fail(FileNoAccess, readError);
        facts->exists = 1;
        facts->links = static_cast<int32_t>(opened.st_nlink);
        facts->headLength = static_cast<int32_t>(got);
        facts->identity[0] = static_cast<uint64_t>(opened.st_dev);
        facts->identity[1] = static_cast<uint64_t>(opened.st_ino);
        if ((opened.st_mode & 0222) == 0) return Fail(FileReadOnly, EACCES);
        if (access(facts->path, W_OK) != 0) return Fail(errno == EACCES ? FileReadOnly : StatusOf(errno), errno);
        return FileDone;
    }
    if (errno != ENOENT) return FailWith(errno);
    // Nothing there, or a link that leads nowhere: the file will be made
    // where the links lead.
    std::string path = name;
    for (int hops = 0;; ++hops) {
        if (lstat(path.c_str(), &st) != 0) {
            if (errno == ENOENT) break;
            return FailWith(errno);
        }
        if (!S_ISLNK(st.st_mode)) return Fail(FileChanged, EAGAIN);
        if (hops == 40) return Fail(FileFailed, ELOOP);
        char link[FilePathLimit];
        const ssize_t n = readlink(path.c_str(), link, sizeof link - 1);
        if (n < 0) return FailWith(errno);
        link[n] = 0;
        const std::string folder = FolderOf(path);
        path = link[0] == '/' || folder == "." ? std::string(link) : (folder == "/" ? "" : folder) + "/" + link;
    }
    if (!CopyPath(path, facts)) return Fail(FileFailed, ENAMETOOLONG);
    return FileMissing;
}

FileStatus FileReplace(const FileFacts* target, const uint8_t* bytes, size_t size)
{
    IgnoreFileSizeSignal();
    const std::string path = target->path;
    const char* name = target->path + target->nameAt;
    const int folder = OpenFolder(FolderOf(path));
    if (folder < 0) return FailWith(errno);
    struct stat old{};
    if (target->exists && (fstatat(folder, name, &old, AT_SYMLINK_NOFOLLOW) != 0 || !SameFile(old, target))) {
        close(folder);
        return Fail(FileChanged, EAGAIN);
    }
    char side[64];
    const int fd = CreateSideFile(folder, side, sizeof side, target->exists ? 0600 : 0666);
    if (fd < 0) {
        const int error = errno;
        close(folder);
        if (error == EACCES || error == EPERM || error == EROFS) return Fail(FileNoSideFile, error);
        return FailWith(error);
    }
    auto discard = [&](FileStatus status, int error) {
        close(fd);
        unlinkat(folder, side, 0);
        close(folder);
        return Fail(status, error);
    };
    if (target->exists) {
        struct stat made;
        // Kept where the process may; the owner it got is checked below.
        if (old.st_uid != geteuid() || old.st_gid != getegid()) {
            const int ignored = fchown(fd, old.st_uid, old.st_gid);
            (void)ignored;
        }
        if (fchmod(fd, old.st_mode & 07777) != 0 || fstat(fd, &made) != 0) return discard(FileFailed, errno);
        if (made.st_uid != old.st_uid || made.st_gid != old.st_gid) return discard(FileNoSideFile, EPERM);
    }
    if (!WriteAll(fd, bytes, size) || fsync(fd) != 0) {
        const int error = errno;
        return discard(StatusOf(error), error);
    }
    // Still the file that was looked at, or still nothing.
    struct stat now;
    const bool there = fstatat(folder, name, &now, AT_SYMLINK_NOFOLLOW) == 0;
    if (target->exists ? !there || !SameFile(now, target) : there) return discard(FileChanged, EAGAIN);
    if (close(fd) != 0) {
        const int error = errno;
        unlinkat(folder, side, 0);
        close(folder);
        return FailWith(error);
    }
    if (renameat(folder, side, folder, name) != 0) {
        const int error = errno;
        unlinkat(folder, side, 0);
        close(folder);
        return FailWith(error);
    }
    SyncFolder(folder);
    close(folder);
    return FileDone;
}

FileStatus FileWriteInPlace(const FileFacts* target, const uint8_t* bytes, size_t size)
{
    IgnoreFileSizeSignal();
    const int fd = open(target->path, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return FailWith(errno);
    struct stat st;
    if (fstat(fd, &st) != 0 || !SameFile(st, target)) {
        close(fd);
        return Fail(FileChanged, EAGAIN);
    }
    // Written over the old bytes first, so a full disk can only stop it
    // beyond the old length.
    if (!WriteAll(fd, bytes, size) || ftruncate(fd, static_cast<off_t>(size)) != 0 || fsync(fd) != 0) {
        const int error = errno;
        close(fd);
        return FailWith(error);
    }
    if (close(fd) != 0) return FailWith(errno);
    return FileDone;
}

FileStatus FileMoveAside(const FileFacts* target, const char* name)
{
    const int folder = OpenFolder(FolderOf(target->path));
    if (folder < 0) return FailWith(errno);
    struct stat st;
    const char* old = target->path + target->nameAt;
    if (fstatat(folder, old, &st, AT_SYMLINK_NOFOLLOW) != 0 || !SameFile(st, target)) {
        close(folder);
        return Fail(FileChanged, EAGAIN);
    }
    const bool moved = PlaceWithoutReplacing(folder, old, folder, name);
    const int error = errno;
    if (moved) SyncFolder(folder);
    close(folder);
    if (moved) return FileDone;
    return error == EEXIST ? Fail(FileTaken, error) : FailWith(error);
}

FileStatus FileCreateNew(const char* path, const uint8_t* bytes, size_t size)
{
    IgnoreFileSizeSignal();
    const std::string whole = path;
    const char* name = path + NameStart(whole);
    const int folder = OpenFolder(FolderOf(whole));
    if (folder < 0) return FailWith(errno);
    char side[64];
    const int fd = CreateSideFile(folder, side, sizeof side, 0666);
    if (fd < 0) {
        const int error = errno;
        close(folder);
        return FailWith(error);
    }
    const bool written = WriteAll(fd, bytes, size) && fsync(fd) == 0;
    int error = errno;
    if (close(fd) != 0 && written) error = errno;
    if (written && PlaceWithoutReplacing(folder, side, folder, name)) {
        SyncFolder(folder);
        close(folder);
        return FileDone;
    }
    if (written) error = errno;
    unlinkat(folder, side, 0);
    close(folder);
    return error == EEXIST ? Fail(FileTaken, error) : FailWith(error);
}

namespace {

FileStatus DropStream(FileStatus status, int error)
{
    if (Files.Streaming.fd >= 0) close(Files.Streaming.fd);
    if (Files.Streaming.folder >= 0) {
        unlinkat(Files.Streaming.folder, Files.Streaming.side, 0);
        close(Files.Streaming.folder);
    }
    Files.Streaming.fd = Files.Streaming.folder = -1;
    return status == FileDone ? status : Fail(status, error);
}

} // namespace

FileStatus FileStreamOpen(const FileFacts* target)
{
    IgnoreFileSizeSignal();
    if (Files.Streaming.fd >= 0) return Fail(FileFailed, EBUSY);
    Files.Streaming.target = *target;
    const char* name = target->path + target->nameAt;
    Files.Streaming.folder = OpenFolder(FolderOf(target->path));
    if (Files.Streaming.folder < 0) return FailWith(errno);
    struct stat old{};
    if (target->exists && (fstatat(Files.Streaming.folder, name, &old, AT_SYMLINK_NOFOLLOW) != 0 || !SameFile(old, target)))
        return DropStream(FileChanged, EAGAIN);
    Files.Streaming.fd = CreateSideFile(Files.Streaming.folder, Files.Streaming.side, sizeof Files.Streaming.side, target->exists ? 0600 : 0666);
    if (Files.Streaming.fd < 0) {
        const int error = errno;
        Files.Streaming.side[0] = 0;
        return DropStream(StatusOf(error), error);
    }
    if (target->exists) {
        if (old.st_uid != geteuid() || old.st_gid != getegid()) {
            const int ignored = fchown(Files.Streaming.fd, old.st_uid, old.st_gid);
            (void)ignored;
        }
        struct stat made;
        if (fchmod(Files.Streaming.fd, old.st_mode & 07777) != 0 || fstat(Files.Streaming.fd, &made) != 0)
            return DropStream(FileFailed, errno);
        if (made.st_uid != old.st_uid || made.st_gid != old.st_gid) return DropStream(FileNoSideFile, EPERM);
    }
    return FileDone;
}

FileStatus FileStreamWrite(const uint8_t* bytes, size_t size)
{
    if (Files.Streaming.fd < 0) return Fail(FileFailed, EBADF);
    while (size > 0) {
        const ssize_t n = write(Files.Streaming.fd, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n == 0 ? ENOSPC : errno;
            return DropStream(StatusOf(error), error);
        }
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return FileDone;
}

FileStatus FileStreamClose(bool keep)
{
    if (Files.Streaming.fd < 0) return keep ? Fail(FileFailed, EBADF) : FileDone;
    if (!keep) return DropStream(FileDone, 0);
    if (fsync(Files.Streaming.fd) != 0) return DropStream(StatusOf(errno), errno);
    const int error = close(Files.Streaming.fd) != 0 ? errno : 0;
    Files.Streaming.fd = -1;
    if (error) return DropStream(StatusOf(error), error);
    const FileFacts& target = Files.Streaming.target;
    const char* name = target.path + target.nameAt;
    if (target.exists) {
        // Still the file that was looked at.
        struct stat now;
        if (fstatat(Files.Streaming.folder, name, &now, AT_SYMLINK_NOFOLLOW) != 0 || !SameFile(now, &target))
            return DropStream(FileChanged, EAGAIN);
        if (renameat(Files.Streaming.folder, Files.Streaming.side, Files.Streaming.folder, name) != 0) return DropStream(StatusOf(errno), errno);
    } else if (!PlaceWithoutReplacing(Files.Streaming.folder, Files.Streaming.side, Files.Streaming.folder, name)) {
        const int placing = errno;
        return DropStream(placing == EEXIST ? FileTaken : StatusOf(placing), placing);
    }
    SyncFolder(Files.Streaming.folder);
    close(Files.Streaming.folder);
    Files.Streaming.folder = -1;
    return FileDone;
}

bool FileRescueFolder(char* folder, size_t size, bool make)
{
    std::string path;
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/') {
        path = data;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/') {
            const passwd* user = getpwuid(getuid());
            home = user ? user->pw_dir : nullptr;
        }
        if (!home || home[0] != '/') {
            Fail(FileFailed, ENOENT);
            return false;
        }
        path = std::string(home) + "/.local/share";
    }
    path += "/talvo/";
    if (!make) {
        if (path.size() >= size) return false;
        std::memcpy(folder, path.c_str(), path.size() + 1);
        return true;
    }
    // Every folder on the way, made private where it is new.
    for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
        const std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            Fail(FileFailed, errno);
            return false;
        }
    }
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || path.size() >= size) {
        Fail(FileFailed, ENOTDIR);
        return false;
    }
    std::memcpy(folder, path.c_str(), path.size() + 1);
    return true;
}

std::string FileFullName(const char* name)
{
    std::string whole = name;
    if (whole.empty()) return "";
    if (whole[0] != '/') {
        char* here = getcwd(nullptr, 0);
        if (!here) return "";
        whole = std::string(here) + "/" + whole;
        std::free(here);
    }
    // By the names alone, as a shell's cd does: a link is not followed.
    std::string out;
    for (size_t at = 0; at < whole.size();) {
        size_t end = whole.find('/', at);
        if (end == std::string::npos) end = whole.size();
        const std::string part = whole.substr(at, end - at);
        at = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            out.resize(out.rfind('/') == std::string::npos ? 0 : out.rfind('/'));
            continue;
        }
        out += "/" + part;
    }
    return out.empty() ? "/" : out;
}

bool FileEnterFolder(const char* folder)
{
    if (chdir(folder) == 0) return true;
    Fail(FileFailed, errno);
    return false;
}

bool FileMakeFolders(const char* path)
{
    const std::string whole = std::string(path) + "/";
    for (size_t at = whole.find('/', 1); at != std::string::npos; at = whole.find('/', at + 1)) {
        const std::string part = whole.substr(0, at);
        if (!part.empty() && mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            Fail(FileFailed, errno);
            return false;
        }
    }
    struct stat st;
    if (stat(path, &st) != 0) {
        Fail(FileFailed, errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) Fail(FileFailed, ENOTDIR);
    return S_ISDIR(st.st_mode);
}

bool FileListFolder(const char* folder, std::vector<std::string>* names)
{
    DIR* listing = opendir(folder);
    if (!listing) return false;
    const std::string base = std::string(folder) + "/";
    while (const dirent* entry = readdir(listing)) {
        struct stat st;
        if (lstat((base + entry->d_name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) names->push_back(entry->d_name);
    }
    closedir(listing);
    return true;
}

FileStatus FileRemove(const char* path)
{
    if (unlink(path) == 0 || errno == ENOENT) return FileDone;
    return FailWith(errno);
}

FileStatus FileLock(const char* path, int64_t* handle)
{
    for (int attempt = 0;; ++attempt) {
        const int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
        if (fd < 0) return FailWith(errno);
        struct stat st;
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            close(fd);
            return Fail(FileNotRegular, EINVAL);
        }
        // flock goes with the process: a program that died holds nothing.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            // A file system without locks (Emscripten's) has only this program.
            if (error != ENOSYS && error != EOPNOTSUPP) {
                close(fd);
                return error == EWOULDBLOCK ? Fail(FileTaken, error) : FailWith(error);
            }
        }
        // The file may have been removed by the one who held it until now
        // (FileUnlockAndRemove): a lock on it would hold nothing, so it is
        // taken again on the file that the name stands for now.
        struct stat now;
        if (stat(path, &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino) {
            *handle = fd;
            return FileDone;
        }
        close(fd);
        if (attempt == 20) return Fail(FileFailed, EAGAIN);
    }
}

void FileUnlock(int64_t handle)
{
    if (handle >= 0) close(static_cast<int>(handle));
}

void FileUnlockAndRemove(int64_t handle, const char* path)
{
    // Removed while still held: nobody can take a lock on the old file
    // that a later FileLock would not see.
    unlink(path);
    FileUnlock(handle);
}

bool FileListFolders(const char* folder, std::vector<FolderEntry>* folders)
{
    DIR* listing = opendir(folder);
    if (!listing) return false;
    const std::string base = std::string(folder) + "/";
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        struct stat st;
        if (name == "." || name == ".." || lstat((base + name).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
        folders->push_back({name, static_cast<int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000});
    }
    closedir(listing);
    return true;
}

FileStatus FileRemoveFolder(const char* path)
{
    if (rmdir(path) == 0 || errno == ENOENT) return FileDone;
    return FailWith(errno);
}
