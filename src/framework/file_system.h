// The file system as the program needs it: reading a file that may be
// anything, and the few steps of a save that must never lose or misdirect a
// user's file. Each platform implements these calls in its own folder
// (framework/posix, framework/win32, ...); which steps a save takes, the
// names it makes and what the user is told are decided above, in files/.
//
// Names are the program's text (UTF-8 where the platform's own names are
// wide); a name without a folder is relative to the current folder. No call
// here ever waits for a FIFO, device or socket: those are not regular files,
// and only regular files are read, written or replaced.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The longest name any call takes or makes, terminating zero included
// (PATH_MAX on POSIX; a Win32 port with long paths may raise it).
constexpr int32_t FilePathLimit = 4096;
// The longest single name within a folder, in bytes.
constexpr int32_t FileNameLimit = 255;

enum FileStatus : int32_t {
    FileDone = 0,
    // Nothing by that name (a link that leads nowhere included).
    FileMissing,
    // A folder, FIFO, device or socket.
    FileNotRegular,
    // The user may not read it.
    FileNoAccess,
    // It may be read but not written: no write permission for anybody or
    // for this user, or a read-only mount.
    FileReadOnly,
    // No room: disk full, quota, or the process's file-size limit.
    FileNoRoom,
    // The name asked for is in use (FileMoveAside, FileCreateNew).
    FileTaken,
    // FileReplace: the folder does not let a side file be made (while the
    // target itself may be writable), or the side file cannot carry the
    // target's owner.
    FileNoSideFile,
    // The file is no longer the one FileLook saw.
    FileChanged,
    // Anything else; FileLastError says what.
    FileFailed,
};

// What FileLook found under a name.
struct FileFacts {
    int32_t exists;      // 1 when a regular file is there
    int32_t links;       // its hard links
    int32_t headLength;  // how many of its first bytes head holds (up to 8)
    uint8_t head[8];
    uint64_t identity[2]; // which file it is (device and file number, or volume and file index)
    int32_t nameAt;      // where the last name of path begins
    // The name with every symbolic link followed: the file a save writes,
    // or where a missing file will be made.
    char path[FilePathLimit];
};

// The operating system's description of the last failure of a call here.
const char* FileLastError();

// Opens a regular file for reading, "rb" or "r" (text, where the platform
// has a text mode). Null for anything else: missing, unreadable, or not a
// regular file, which is never opened in a way that can block (POSIX:
// O_NONBLOCK and a check with fstat; Win32: CreateFileW, then GetFileType
// must be FILE_TYPE_DISK and the attributes no directory).
std::FILE* FileOpenRegular(const char* name, const char* mode);
// The same, with the file's length in bytes in *length, so that a file too
// long to be what the caller reads is refused before it is read whole.
std::FILE* FileOpenRegular(const char* name, const char* mode, int64_t* length);

// Reads a regular file whole, or its first `limit` bytes, into *bytes
// (which keeps what was read before a failure); false when it cannot be
// opened as FileOpenRegular opens it, or a read fails.
bool FileReadWhole(const char* name, std::vector<uint8_t>* bytes, size_t limit = SIZE_MAX);

// Looks at what a save to `name` would write: follows symbolic links to the
// file they lead to (or, for a link that leads nowhere, to the name it
// would be made under) and fills `facts`. For an existing regular file:
// FileDone when it can be read and written (its first bytes in head), else
// FileNoAccess or FileReadOnly; a file without any write permission bit is
// read-only even to an administrator. Opens nothing that can block.
FileStatus FileLook(const char* name, FileFacts* facts);

// Writes the bytes to a side file made fresh in the target's folder, then
// renames it over the target. The side file is created exclusively (POSIX:
// O_CREAT | O_EXCL | O_NOFOLLOW; Win32: CREATE_NEW), under a name that no
// other save, in this or another process, can share, so that whatever others
// left in the folder is never opened, followed, truncated or deleted. It
// takes the existing target's permission bits and owner (Win32: its
// attributes and security descriptor), is flushed to disk (fsync;
// FlushFileBuffers), and renamed over the target (rename; MoveFileExW with
// MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH), and the folder is
// flushed where the platform allows. The target must still be the file
// FileLook saw (or still be missing). On any failure the side file is
// removed and the target is as it was.
FileStatus FileReplace(const FileFacts* target, const uint8_t* bytes, size_t size);

// Writes the bytes over the existing target itself, from its start, cuts it
// to their length and flushes it to disk: every hard link sees the new
// bytes. The target is opened without following links and must still be
// the file FileLook saw.
FileStatus FileWriteInPlace(const FileFacts* target, const uint8_t* bytes, size_t size);

// Gives the existing target a new name in its own folder (`name` is a name
// within the folder), never replacing anything: FileTaken when the name is
// in use (POSIX: link and unlink, or a checked rename where links are not
// supported; Win32: MoveFileExW without MOVEFILE_REPLACE_EXISTING).
FileStatus FileMoveAside(const FileFacts* target, const char* name);

// Makes a new file under `path` holding the bytes, never replacing
// anything (FileTaken when the name is in use); written to a side file and
// flushed first, so the new name only ever holds all of the bytes.
FileStatus FileCreateNew(const char* path, const uint8_t* bytes, size_t size);

// A file whose bytes come in parts, too many to hold at once (an
// animation): written to a side file made fresh in the folder of `target`
// (FileLook's facts of an existing regular file, or of a missing one), with
// the existing target's permissions and owner, as FileReplace makes one.
// One such file at a time.
FileStatus FileStreamOpen(const FileFacts* target);
FileStatus FileStreamWrite(const uint8_t* bytes, size_t size);
// `keep`: flushed to disk and given the target's name, replacing the file
// FileLook saw there (still that one) or, where there was none, never
// replacing anything (FileTaken). Otherwise, and on any failure, the side
// file is removed and the target is as it was.
FileStatus FileStreamClose(bool keep);

// The folder for files the user did not name (XDG_DATA_HOME/talvo, else
// ~/.local/share/talvo; Win32: the local application data folder\Talvo),
// made when missing (unless `make` is false: then only named), with its
// separator at the end so that a name can be appended. False when there is
// none.
bool FileRescueFolder(char* folder, size_t size, bool make = true);

// The name as it will still mean the same file once the current folder
// has changed: made whole from the current folder, "." and ".." taken out
// by their names alone (POSIX) or as GetFullPathNameW makes it. Empty when
// it cannot be made.
std::string FileFullName(const char* name);
// Makes the folder the current one; false when it cannot be entered
// (FileLastError says why).
bool FileEnterFolder(const char* folder);

// Makes the folder, and the folders on the way to it, where missing (new
// ones private to the user). False when it is not there afterwards
// (FileLastError says why).
bool FileMakeFolders(const char* path);
// The names of the regular files in the folder, in no order; false when it
// cannot be read.
bool FileListFolder(const char* folder, std::vector<std::string>* names);
// Removes the regular file: FileDone once it is gone (also when it was not
// there).
FileStatus FileRemove(const char* path);
// The folders in the folder (links to folders not among them), each with
// when it last changed, in milliseconds since 1970; in no order. False when
// it cannot be read.
struct FolderEntry {
    std::string name;
    int64_t changedMs;
};
bool FileListFolders(const char* folder, std::vector<FolderEntry>* folders);
// Removes the folder if it is empty: FileDone once it is gone.
FileStatus FileRemoveFolder(const char* path);
// Holds the lock that the file `path` (made when missing) stands for, until
// FileUnlock or the end of the process however it ends: FileDone with
// *handle set; FileTaken when another process holds it; another status when
// no lock can be had there.
FileStatus FileLock(const char* path, int64_t* handle);
void FileUnlock(int64_t handle);
// Lets the lock go and removes its file; a program that takes the lock
// meanwhile holds it all the same (and its file stays).
void FileUnlockAndRemove(int64_t handle, const char* path);
