// The Windows entry point. The arguments are split from the wide command
// line as every Windows program's main sees it, and handed on as UTF-8: the
// ANSI ones would name a file outside the code page with question marks.
// app/run_talvo.cpp reads them.
//
// A program of the GUI subsystem has no console, and cmd.exe does not wait
// for one: text written to a console it attached to would land after the
// next prompt. So the help, the version and a refused command line go to
// the standard output or error the program was given where it has one (a
// redirection, a pipe, Wine's terminal), and to a message box otherwise, as
// Windows' own GUI programs answer /?.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "framework/program_entry.h"
#include "framework/win32/win32.h"

namespace {

bool HasStandardHandle(DWORD which)
{
    const HANDLE handle = GetStdHandle(which);
    return handle && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

void Tell(const std::string& text, bool failure)
{
    if (HasStandardHandle(failure ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE)) {
        std::FILE* stream = failure ? stderr : stdout;
        std::fputs(text.c_str(), stream);
        std::fflush(stream);
        return;
    }
    std::wstring wide;
    if (!Win32Widen(text, &wide)) wide = L"Talvo";
    MessageBoxW(nullptr, wide.c_str(), L"Talvo", MB_OK | (failure ? MB_ICONERROR : MB_ICONINFORMATION));
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    Win32SetInstance(instance);
    PlatformEntry entry;
    entry.program = "talvo.exe";
    entry.slashHelp = true;
    entry.tell = Tell;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; wide && i < count; ++i) {
        std::string text;
        // An argument without a UTF-8 form stays empty, which names nothing.
        Win32Narrow(wide[i], &text);
        entry.arguments.push_back(text);
    }
    LocalFree(wide);
    return RunTalvo(entry);
}
