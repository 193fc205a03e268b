#include "framework/save_file.h"

#include <cstdio>
#include <string>

#include "framework/file_system.h"

namespace {

std::string Chosen;

bool Failed(FileStatus status, char* failure, size_t failureSize)
{
    std::snprintf(failure, failureSize, "\"%s\" could not be saved: %s.", Chosen.c_str(),
                  status == FileNotRegular ? "it is not a regular file"
                  : status == FileTaken    ? "another file took its name meanwhile"
                                           : FileLastError());
    return false;
}

} // namespace

bool ChosenFileOpen(const char* path, char* failure, size_t failureSize)
{
    Chosen = path;
    FileFacts facts;
    FileStatus status = FileLook(path, &facts);
    if (status == FileDone || status == FileMissing) status = FileStreamOpen(&facts);
    return status == FileDone || Failed(status, failure, failureSize);
}

bool ChosenFileWrite(const uint8_t* bytes, size_t size, char* failure, size_t failureSize)
{
    const FileStatus status = FileStreamWrite(bytes, size);
    return status == FileDone || Failed(status, failure, failureSize);
}

bool ChosenFileClose(bool keep, char* failure, size_t failureSize)
{
    const FileStatus status = FileStreamClose(keep);
    return status == FileDone || Failed(status, failure, failureSize);
}

std::string UnusedName(const std::string& folder, const std::string& name)
{
    const size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    const std::string ending = stem.size() == name.size() ? "" : name.substr(dot);
    std::string candidate = name;
    for (int n = 2; n < 1000; ++n) {
        FileFacts facts;
        const FileStatus status = FileLook((folder + candidate).c_str(), &facts);
        if (status == FileMissing && !facts.exists) return candidate;
        candidate = stem + " (" + std::to_string(n) + ")" + ending;
    }
    return name;
}
