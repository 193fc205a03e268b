#include "framework/save_file.h"

#include <cstdio>

#include "framework/file_system.h"

bool WriteChosenFile(const char* path, const uint8_t* bytes, size_t size, char* failure, size_t failureSize)
{
    FileFacts facts;
    FileStatus status = FileLook(path, &facts);
    if (status == FileDone)
        status = FileReplace(&facts, bytes, size);
    else if (status == FileMissing)
        status = FileCreateNew(facts.path, bytes, size);
    if (status == FileDone) return true;
    std::snprintf(failure, failureSize, "\"%s\" could not be saved: %s.", path,
                  status == FileNotRegular ? "it is not a regular file" : FileLastError());
    return false;
}
