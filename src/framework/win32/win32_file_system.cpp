// The file system on Win32, through the wide calls: the program's UTF-8
// names are converted at this edge and back. Names near or past MAX_PATH
// take the \\?\ form, so every name up to FilePathLimit can be used.
#include <windows.h>
#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "framework/file_system.h"
#include "framework/win32/win32.h"

namespace {

// Win32 counts a folder entry in UTF-16 units (255 of them); a UTF-8 name
// never has fewer bytes than units, so the byte limit always fits.
static_assert(FileNameLimit <= 255);

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Not in every SDK's headers.
constexpr DWORD ErrorQuotaExceeded = 1295;

// A save streamed into a side file, put in place at its end.
struct Stream {
    HANDLE file = INVALID_HANDLE_VALUE;
    std::wstring side, path;
    bool exists = false;
    FileFacts target;
};

// The last failure's code and words, and the save under way.
struct FileSystemState {
    DWORD LastCode = 0;
    char LastText[512] = "";
    Stream Streaming;
};
FileSystemState Files;

FileStatus StatusOf(DWORD error)
{
    switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_FILE_TOO_LARGE:
    case ErrorQuotaExceeded:
        return FileNoRoom;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
        return FileNoAccess;
    case ERROR_WRITE_PROTECT:
    case ERROR_FILE_READ_ONLY:
        return FileReadOnly;
    default:
        return FileFailed;
    }
}

FileStatus Fail(FileStatus status, DWORD error)
{
    Files.LastCode = error;
    return status;
}

FileStatus FailWith(DWORD error) { return Fail(StatusOf(error), error); }

bool StartsWith(const std::wstring& text, const wchar_t* start)
{
    return text.compare(0, std::wcslen(start), start) == 0;
}

// A name from a call that writes it into a buffer of the given length and,
// when that is too short, says how long a buffer it needs.
template <typename Call>
bool GrownName(Call call, std::wstring* out)
{
    std::wstring text(MAX_PATH, L'\0');
    DWORD length = call(text.data(), static_cast<DWORD>(text.size()));
    if (length >= text.size()) {
        text.resize(length);
        length = call(text.data(), static_cast<DWORD>(text.size()));
    }
    if (length >= text.size()) SetLastError(ERROR_FILENAME_EXCED_RANGE);
    if (length == 0 || length >= text.size()) return false;
    text.resize(length);
    *out = text;
    return true;
}

// The full name of `name`, in the \\?\ form where a side file's name beside
// it could pass MAX_PATH. Short names keep the DOS form, so that CON or NUL
// stay the devices they are and are refused as such.
bool FullPath(const std::string& name, std::wstring* out)
{
    std::wstring wide;
    if (name.empty()) {
        Files.LastCode = ERROR_INVALID_NAME;
        return false;
    }
    if (!Win32Widen(name, &wide)) {
        Files.LastCode = ERROR_NO_UNICODE_TRANSLATION;
        return false;
    }
    std::wstring full;
    if (!GrownName([&](wchar_t* text, DWORD size) { return GetFullPathNameW(wide.c_str(), size, text, nullptr); },
                   &full)) {
        Files.LastCode = GetLastError();
        return false;
    }
    if (full.size() + 64 < MAX_PATH || StartsWith(full, L"\\\\?\\") || StartsWith(full, L"\\\\.\\"))
        *out = full;
    else if (StartsWith(full, L"\\\\"))
        *out = L"\\\\?\\UNC\\" + full.substr(2);
    else
        *out = L"\\\\?\\" + full;
    return true;
}

// The name as the user knows it, without the \\?\ form.
std::wstring Shown(const std::wstring& path)
{
    if (StartsWith(path, L"\\\\?\\UNC\\")) return L"\\\\" + path.substr(8);
    if (StartsWith(path, L"\\\\?\\") && path.size() > 6 && path[5] == L':') return path.substr(4);
    return path;
}

bool Describe(const std::wstring& path, FileFacts* facts)
{
    std::string text;
    if (!Win32Narrow(Shown(path), &text) || text.size() >= sizeof facts->path) return false;
    std::memcpy(facts->path, text.c_str(), text.size() + 1);
    const size_t slash = text.find_last_of("\\/");
    facts->nameAt = slash == std::string::npos ? 0 : static_cast<int32_t>(slash + 1);
    return true;
}

// The folder part of a name, separator included ("" for a bare name).
std::string FolderOf(const std::string& path)
{
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& info, const FileFacts* facts)
{
    const uint64_t index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && info.dwVolumeSerialNumber == facts->identity[0] &&
           index == facts->identity[1];
}

// Opens the file itself, never a file a link at that name leads to.
HANDLE OpenExact(const std::wstring& path, DWORD access)
{
    return CreateFileW(path.c_str(), access, ShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// True when the file at `path` is still the one FileLook saw; the attributes
// of the existing file in *info.
bool StillThere(const std::wstring& path, const FileFacts* facts, BY_HANDLE_FILE_INFORMATION* info)
{
    const HANDLE file = OpenExact(path, FILE_READ_ATTRIBUTES);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool same = GetFileInformationByHandle(file, info) && SameFile(*info, facts);
    CloseHandle(file);
    return same;
}

bool Missing(const std::wstring& path)
{
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Vista's call, looked up: older systems lack it, and where it fails the
// name given stands (unless that name is itself a link, which is refused).
bool FinalPath(HANDLE file, std::wstring* out)
{
    using Call = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
    static const Call call = reinterpret_cast<Call>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
    return call && GrownName([&](wchar_t* text, DWORD size) {
        return call(file, text, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }, out);
}

bool WriteAll(HANDLE file, const uint8_t* bytes, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const DWORD part = static_cast<DWORD>(size - done < (1u << 30) ? size - done : (1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, bytes + done, part, &written, nullptr)) return false;
        if (written == 0) {
            SetLastError(ERROR_DISK_FULL);
            return false;
        }
        done += written;
    }
    return true;
}

// A side file in `folder` (a name's folder part) under a name made of the
// process, a counter and the clock, created exclusively: a name someone
// else holds is never opened.
HANDLE CreateSideFile(const std::string& folder, DWORD attributes, std::wstring* side)
{
    static uint32_t counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        LARGE_INTEGER now{};
        QueryPerformanceCounter(&now);
        char name[64];
        std::snprintf(name, sizeof name, "~talvo-%lx-%x-%llx.save", static_cast<unsigned long>(GetCurrentProcessId()),
                      static_cast<unsigned>(++counter), static_cast<unsigned long long>(now.QuadPart));
        if (!FullPath(folder + name, side)) {
            SetLastError(Files.LastCode);
            return INVALID_HANDLE_VALUE;
        }
        const HANDLE file = CreateFileW(side->c_str(), GENERIC_WRITE | READ_CONTROL | WRITE_DAC, 0, nullptr, CREATE_NEW,
                                        attributes | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
}

bool SameRules(const ACL* a, const ACL* b)
{
    if (!a || !b) return a == b;
    return a->AclSize == b->AclSize && std::memcmp(a, b, a->AclSize) == 0;
}

// Gives the side file the target's owner and access rules where its own
// differ (Wine makes both from the Unix mode, and a needless copy would
// widen it). False when they cannot be given; where they cannot be read,
// there is nothing to give.
bool CarrySecurity(HANDLE old, HANDLE side, const std::wstring& sidePath)
{
    const SECURITY_INFORMATION both = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    PSID owner = nullptr, made = nullptr;
    PACL rules = nullptr, madeRules = nullptr;
    PSECURITY_DESCRIPTOR kept = nullptr, fresh = nullptr;
    if (GetSecurityInfo(old, SE_FILE_OBJECT, both, &owner, nullptr, &rules, nullptr, &kept) != ERROR_SUCCESS) return true;
    if (GetSecurityInfo(side, SE_FILE_OBJECT, both, &made, nullptr, &madeRules, nullptr, &fresh) != ERROR_SUCCESS) {
        LocalFree(kept);
        return true;
    }
    DWORD result = ERROR_SUCCESS;
    if (!SameRules(rules, madeRules)) {
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        GetSecurityDescriptorControl(kept, &control, &revision);
        const SECURITY_INFORMATION which =
            DACL_SECURITY_INFORMATION |
            (control & SE_DACL_PROTECTED ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION);
        result = SetSecurityInfo(side, SE_FILE_OBJECT, which, nullptr, nullptr, rules, nullptr);
    }
    // The owner is set by name: the side file's handle has no right to it.
    if (result == ERROR_SUCCESS && owner && made && !EqualSid(owner, made))
        result = SetNamedSecurityInfoW(const_cast<wchar_t*>(sidePath.c_str()), SE_FILE_OBJECT,
                                       OWNER_SECURITY_INFORMATION, owner, nullptr, nullptr, nullptr);
    LocalFree(fresh);
    LocalFree(kept);
    SetLastError(result);
    return result == ERROR_SUCCESS;
}

// The copyable attributes of an existing file, for its replacement.
DWORD KeptAttributes(DWORD attributes)
{
    const DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                     FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    return kept ? kept : FILE_ATTRIBUTE_NORMAL;
}

} // namespace

bool Win32Widen(const std::string& text, std::wstring* out)
{
    out->clear();
    if (text.empty()) return true;
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) return false;
    out->resize(static_cast<size_t>(length));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), out->data(),
                               length) == length;
}

// A name with a lone surrogate has no UTF-8 form; it is refused rather than
// turned into the name of another file.
bool Win32Narrow(const std::wstring& text, std::string* out)
{
    out->clear();
    if (text.empty()) return true;
    const int length = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    if (length <= 0) return false;
    out->resize(static_cast<size_t>(length));
    return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), out->data(),
                               length, nullptr, nullptr) == length;
}

const char* FileLastError()
{
    wchar_t text[512];
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, Files.LastCode, 0,
                                        text, sizeof text / sizeof text[0], nullptr);
    std::string line;
    if (length == 0 || !Win32Narrow(std::wstring(text, length), &line)) line = "error " + std::to_string(Files.LastCode);
    // One line, without the closing full stop, like the other platforms'.
    for (char& c : line)
        if (c == '\r' || c == '\n') c = ' ';
    while (!line.empty() && (line.back() == ' ' || line.back() == '.')) line.pop_back();
    std::snprintf(Files.LastText, sizeof Files.LastText, "%s", line.c_str());
    return Files.LastText;
}

std::FILE* FileOpenRegular(const char* name, const char* mode)
{
    int64_t length = 0;
    return FileOpenRegular(name, mode, &length);
}

std::FILE* FileOpenRegular(const char* name, const char* mode, int64_t* length)
{
    std::wstring path;
    if (!name || !FullPath(name, &path)) return nullptr;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(file);
        return nullptr;
    }
    const int text = std::strchr(mode, 'b') ? _O_BINARY : _O_TEXT;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | text);
    if (fd == -1) {
        CloseHandle(file);
        return nullptr;
    }
    std::FILE* stream = _fdopen(fd, mode);
    if (!stream) _close(fd);
    *length = static_cast<int64_t>(static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow);
    return stream;
}

FileStatus FileLook(const char* name, FileFacts* facts)
{
    std::memset(facts, 0, sizeof *facts);
    std::wstring path;
    if (!name || !FullPath(name, &path)) return FailWith(Files.LastCode);
    // Links followed, folders included (backup semantics), nothing read.
    const HANDLE probe = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, ShareAll, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return FailWith(error);
        // Something by that name all the same: a link that leads nowhere,
        // left alone, since where it leads is not known here.
        const DWORD own = GetFileAttributesW(path.c_str());
        if (own != INVALID_FILE_ATTRIBUTES)
            return own & FILE_ATTRIBUTE_REPARSE_POINT ? Fail(FileFailed, ERROR_CANT_RESOLVE_FILENAME)
                                                      : Fail(FileChanged, ERROR_FILE_EXISTS);
        if (!Describe(path, facts)) return Fail(FileFailed, ERROR_FILENAME_EXCED_RANGE);
        return Fail(FileMissing, error);
    }
    BY_HANDLE_FILE_INFORMATION found;
    if (GetFileType(probe) != FILE_TYPE_DISK) {
        CloseHandle(probe);
        return Fail(FileNotRegular, ERROR_BAD_FILE_TYPE);
    }
    if (!GetFileInformationByHandle(probe, &found)) {
        const DWORD error = GetLastError();
        CloseHandle(probe);
        return FailWith(error);
    }
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        CloseHandle(probe);
        return Fail(FileNotRegular, ERROR_DIRECTORY);
    }
    std::wstring real;
    const bool followed = FinalPath(probe, &real);
    CloseHandle(probe);
    if (!followed) {
        const DWORD own = GetFileAttributesW(path.c_str());
        if (own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_REPARSE_POINT))
            return Fail(FileFailed, ERROR_CANT_RESOLVE_FILENAME);
        real = path;
    }
    if (!Describe(real, facts) || !FullPath(facts->path, &real)) return Fail(FileFailed, ERROR_FILENAME_EXCED_RANGE);
    const HANDLE file = OpenExact(real, GENERIC_READ);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return Fail(error == ERROR_ACCESS_DENIED ? FileNoAccess : StatusOf(error), error);
    }
    BY_HANDLE_FILE_INFORMATION opened;
    if (!GetFileInformationByHandle(file, &opened) || opened.dwVolumeSerialNumber != found.dwVolumeSerialNumber ||
        opened.nFileIndexHigh != found.nFileIndexHigh || opened.nFileIndexLow != found.nFileIndexLow ||
        (opened.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(file);
        return Fail(FileChanged, ERROR_FILE_INVALID);
    }
    DWORD got = 0;
    const bool read = ReadFile(file, facts->head, sizeof facts->head, &got, nullptr);
    const DWORD readError = GetLastError();
    CloseHandle(file);
    if (!read) return Fail(FileNoAccess, readError);
    facts->exists = 1;
    facts->links = static_cast<int32_t>(opened.nNumberOfLinks);
    facts->headLength = static_cast<int32_t>(got);
    facts->identity[0] = opened.dwVolumeSerialNumber;
    facts->identity[1] = (static_cast<uint64_t>(opened.nFileIndexHigh) << 32) | opened.nFileIndexLow;
    // The read-only attribute holds for administrators too.
    if (opened.dwFileAttributes & FILE_ATTRIBUTE_READONLY) return Fail(FileReadOnly, ERROR_FILE_READ_ONLY);
    const HANDLE writable = OpenExact(real, GENERIC_WRITE);
    if (writable == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return Fail(error == ERROR_ACCESS_DENIED ? FileReadOnly : StatusOf(error), error);
    }
    CloseHandle(writable);
    return FileDone;
}

FileStatus FileReplace(const FileFacts* target, const uint8_t* bytes, size_t size)
{
    std::wstring path;
    if (!FullPath(target->path, &path)) return FailWith(Files.LastCode);
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    HANDLE old = INVALID_HANDLE_VALUE;
    if (target->exists) {
        old = OpenExact(path, FILE_READ_ATTRIBUTES | READ_CONTROL);
        BY_HANDLE_FILE_INFORMATION info;
        if (old == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(old, &info) || !SameFile(info, target)) {
            if (old != INVALID_HANDLE_VALUE) CloseHandle(old);
            return Fail(FileChanged, ERROR_FILE_INVALID);
        }
        attributes = KeptAttributes(info.dwFileAttributes);
    }
    std::wstring side;
    HANDLE file = CreateSideFile(FolderOf(target->path), attributes, &side);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (old != INVALID_HANDLE_VALUE) CloseHandle(old);
        if (error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT) return Fail(FileNoSideFile, error);
        return FailWith(error);
    }
    auto discard = [&](FileStatus status, DWORD error) {
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        if (old != INVALID_HANDLE_VALUE) CloseHandle(old);
        DeleteFileW(side.c_str());
        return Fail(status, error);
    };
    if (old != INVALID_HANDLE_VALUE) {
        const bool carried = CarrySecurity(old, file, side);
        const DWORD error = GetLastError();
        CloseHandle(old);
        old = INVALID_HANDLE_VALUE;
        if (!carried) return discard(FileNoSideFile, error);
    }
    if (!WriteAll(file, bytes, size) || !FlushFileBuffers(file)) {
        const DWORD error = GetLastError();
        return discard(StatusOf(error), error);
    }
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
    // Still the file that was looked at, or still nothing.
    BY_HANDLE_FILE_INFORMATION now;
    if (target->exists ? !StillThere(path, target, &now) : !Missing(path))
        return discard(FileChanged, ERROR_FILE_INVALID);
    if (!MoveFileExW(side.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        return discard(StatusOf(error), error);
    }
    return FileDone;
}

FileStatus FileWriteInPlace(const FileFacts* target, const uint8_t* bytes, size_t size)
{
    std::wstring path;
    if (!FullPath(target->path, &path)) return FailWith(Files.LastCode);
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FailWith(GetLastError());
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info) || !SameFile(info, target)) {
        CloseHandle(file);
        return Fail(FileChanged, ERROR_FILE_INVALID);
    }
    // Written over the old bytes first, so a full disk can only stop it
    // beyond the old length.
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    if (!WriteAll(file, bytes, size) || !SetFilePointerEx(file, end, nullptr, FILE_BEGIN) || !SetEndOfFile(file) ||
        !FlushFileBuffers(file)) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        return FailWith(error);
    }
    CloseHandle(file);
    return FileDone;
}

FileStatus FileMoveAside(const FileFacts* target, const char* name)
{
    std::wstring path, moved;
    if (!FullPath(target->path, &path) || !FullPath(FolderOf(target->path) + name, &moved)) return FailWith(Files.LastCode);
    BY_HANDLE_FILE_INFORMATION info;
    if (!StillThere(path, target, &info)) return Fail(FileChanged, ERROR_FILE_INVALID);
    if (MoveFileExW(path.c_str(), moved.c_str(), MOVEFILE_WRITE_THROUGH)) return FileDone;
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return Fail(FileTaken, error);
    return FailWith(error);
}

FileStatus FileCreateNew(const char* path, const uint8_t* bytes, size_t size)
{
    std::wstring target, side;
    if (!FullPath(path, &target)) return FailWith(Files.LastCode);
    const HANDLE file = CreateSideFile(FolderOf(path), FILE_ATTRIBUTE_NORMAL, &side);
    if (file == INVALID_HANDLE_VALUE) return FailWith(GetLastError());
    const bool written = WriteAll(file, bytes, size) && FlushFileBuffers(file);
    DWORD error = GetLastError();
    CloseHandle(file);
    if (written && MoveFileExW(side.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) return FileDone;
    if (written) error = GetLastError();
    DeleteFileW(side.c_str());
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return Fail(FileTaken, error);
    return FailWith(error);
}

namespace {


FileStatus DropStream(FileStatus status, DWORD error)
{
    if (Files.Streaming.file != INVALID_HANDLE_VALUE) CloseHandle(Files.Streaming.file);
    Files.Streaming.file = INVALID_HANDLE_VALUE;
    if (!Files.Streaming.side.empty()) DeleteFileW(Files.Streaming.side.c_str());
    Files.Streaming.side.clear();
    return status == FileDone ? status : Fail(status, error);
}

} // namespace

FileStatus FileStreamOpen(const FileFacts* target)
{
    if (Files.Streaming.file != INVALID_HANDLE_VALUE) return Fail(FileFailed, ERROR_BUSY);
    Files.Streaming.target = *target;
    Files.Streaming.exists = target->exists != 0;
    if (!FullPath(target->path, &Files.Streaming.path)) return FailWith(Files.LastCode);
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    HANDLE old = INVALID_HANDLE_VALUE;
    if (target->exists) {
        old = OpenExact(Files.Streaming.path, FILE_READ_ATTRIBUTES | READ_CONTROL);
        BY_HANDLE_FILE_INFORMATION info;
        if (old == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(old, &info) || !SameFile(info, target)) {
            if (old != INVALID_HANDLE_VALUE) CloseHandle(old);
            return Fail(FileChanged, ERROR_FILE_INVALID);
        }
        attributes = KeptAttributes(info.dwFileAttributes);
    }
    Files.Streaming.file = CreateSideFile(FolderOf(target->path), attributes, &Files.Streaming.side);
    if (Files.Streaming.file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (old != INVALID_HANDLE_VALUE) CloseHandle(old);
        Files.Streaming.side.clear();
        return FailWith(error);
    }
    if (old != INVALID_HANDLE_VALUE) {
        const bool carried = CarrySecurity(old, Files.Streaming.file, Files.Streaming.side);
        const DWORD error = GetLastError();
        CloseHandle(old);
        if (!carried) return DropStream(FileNoSideFile, error);
    }
    return FileDone;
}

FileStatus FileStreamWrite(const uint8_t* bytes, size_t size)
{
    if (Files.Streaming.file == INVALID_HANDLE_VALUE) return Fail(FileFailed, ERROR_INVALID_HANDLE);
    if (WriteAll(Files.Streaming.file, bytes, size)) return FileDone;
    const DWORD error = GetLastError();
    return DropStream(StatusOf(error), error);
}

FileStatus FileStreamClose(bool keep)
{
    if (Files.Streaming.file == INVALID_HANDLE_VALUE) return keep ? Fail(FileFailed, ERROR_INVALID_HANDLE) : FileDone;
    if (!keep) return DropStream(FileDone, 0);
    if (!FlushFileBuffers(Files.Streaming.file)) {
        const DWORD error = GetLastError();
        return DropStream(StatusOf(error), error);
    }
    CloseHandle(Files.Streaming.file);
    Files.Streaming.file = INVALID_HANDLE_VALUE;
    // Still the file that was looked at, or still nothing.
    BY_HANDLE_FILE_INFORMATION now;
    if (Files.Streaming.exists ? !StillThere(Files.Streaming.path, &Files.Streaming.target, &now) : !Missing(Files.Streaming.path))
        return DropStream(Files.Streaming.exists ? FileChanged : FileTaken, ERROR_FILE_EXISTS);
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (Files.Streaming.exists ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!MoveFileExW(Files.Streaming.side.c_str(), Files.Streaming.path.c_str(), flags)) {
        const DWORD error = GetLastError();
        return DropStream(error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? FileTaken : StatusOf(error),
                          error);
    }
    Files.Streaming.side.clear();
    return FileDone;
}

bool FileRescueFolder(char* folder, size_t size, bool make)
{
    // shell32 only once a save has failed: talvo-sim.exe starts without it.
    using Call = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
    const HMODULE shell = LoadLibraryW(L"shell32.dll");
    const Call call =
        shell ? reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(shell, "SHGetFolderPathW"))) : nullptr;
    wchar_t base[MAX_PATH];
    if (!call || call(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, base) != S_OK)
        return false;
    const std::wstring path = std::wstring(base) + L"\\Talvo";
    std::string text;
    if (!make) {
        if (!Win32Narrow(path + L"\\", &text) || text.size() >= size) return false;
        std::memcpy(folder, text.c_str(), text.size() + 1);
        return true;
    }
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !Win32Narrow(path + L"\\", &text) || text.size() >= size)
        return false;
    std::memcpy(folder, text.c_str(), text.size() + 1);
    return true;
}

std::string FileFullName(const char* name)
{
    std::wstring wide, full;
    std::string text;
    if (!Win32Widen(name, &wide) ||
        !GrownName([&](wchar_t* buffer, DWORD size) { return GetFullPathNameW(wide.c_str(), size, buffer, nullptr); },
                   &full) ||
        !Win32Narrow(full, &text))
        return "";
    return text;
}

bool FileEnterFolder(const char* folder)
{
    std::wstring wide;
    if (Win32Widen(folder, &wide) && SetCurrentDirectoryW(wide.c_str())) return true;
    Fail(FileFailed, GetLastError());
    return false;
}

bool FileMakeFolders(const char* path)
{
    std::wstring whole;
    if (!FullPath(path, &whole)) return false;
    // Every folder on the way, from the first that is missing.
    for (size_t at = whole.find(L'\\', 3); at != std::wstring::npos; at = whole.find(L'\\', at + 1)) {
        const std::wstring part = whole.substr(0, at);
        if (part.size() > 4) CreateDirectoryW(part.c_str(), nullptr);
    }
    const DWORD made = CreateDirectoryW(whole.c_str(), nullptr) ? ERROR_SUCCESS : GetLastError();
    const DWORD attributes = GetFileAttributesW(whole.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
    Fail(FileFailed, made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS ? made : ERROR_DIRECTORY);
    return false;
}

bool FileListFolder(const char* folder, std::vector<std::string>* names)
{
    std::wstring pattern;
    if (!FullPath(std::string(folder) + "\\*", &pattern)) return false;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        std::string name;
        if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) &&
            Win32Narrow(found.cFileName, &name))
            names->push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

// A file or folder that is not there is as good as removed.
static FileStatus RemoveWith(const char* path, BOOL(WINAPI* remove)(LPCWSTR))
{
    std::wstring wide;
    if (!FullPath(path, &wide)) return FailWith(Files.LastCode);
    if (remove(wide.c_str())) return FileDone;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileDone : FailWith(error);
}

FileStatus FileRemove(const char* path) { return RemoveWith(path, DeleteFileW); }

// The file open with no sharing is the lock: Windows closes it with the
// process, however that ends.
FileStatus FileLock(const char* path, int64_t* handle)
{
    std::wstring wide;
    if (!FullPath(path, &wide)) return FailWith(Files.LastCode);
    const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? Fail(FileTaken, error)
                                                                                  : FailWith(error);
    }
    *handle = reinterpret_cast<intptr_t>(file);
    return FileDone;
}

void FileUnlock(int64_t handle)
{
    if (handle >= 0) CloseHandle(reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle)));
}

// The lock is the open file itself: once it is closed, a program that opens
// it first holds it, and then the removal fails for want of sharing.
void FileUnlockAndRemove(int64_t handle, const char* path)
{
    FileUnlock(handle);
    FileRemove(path);
}

bool FileListFolders(const char* folder, std::vector<FolderEntry>* folders)
{
    std::wstring pattern;
    if (!FullPath(std::string(folder) + "\\*", &pattern)) return false;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        std::string name;
        const bool folderItself = !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                                  (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        if (!folderItself || !Win32Narrow(found.cFileName, &name) || name == "." || name == "..") continue;
        // File times count 100 ns from 1601.
        const uint64_t time = static_cast<uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32 |
                              found.ftLastWriteTime.dwLowDateTime;
        folders->push_back({name, static_cast<int64_t>(time / 10000) - 11644473600000});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

FileStatus FileRemoveFolder(const char* path) { return RemoveWith(path, RemoveDirectoryW); }
