// The command line every way into Talvo reads: the desktop programs' (GTK,
// Windows, the page) and the part talvo-sim shares with them. Options come
// before or among the scene names; "--" ends them, so a scene whose name
// begins with "-" is named after it (or as ./-name).
#pragma once
#include <string>
#include <utility>
#include <vector>

// An option of one program alone (talvo-sim's), which the parser hands back
// as given.
struct OwnOption {
    const char* name;
    bool takesValue;
};

struct CommandLineRules {
    // The program's options beside the shared ones.
    std::vector<OwnOption> own;
    // Whether --data-home is one of them (the desktop programs').
    bool dataHome = true;
    // "/?" asks for help, as on Windows.
    bool slashHelp = false;
};

struct CommandLine {
    bool help = false;
    bool version = false;
    bool dataHome = false;
    std::vector<std::string> scenes;
    // The program's own options in the order given, each with its value
    // (empty for one that takes none).
    std::vector<std::pair<std::string, std::string>> own;
};

// False, with the reason in *error, for an option the program does not
// know or one whose value is missing; the arguments exclude the program's
// own name.
bool ParseCommandLine(const std::vector<std::string>& arguments, const CommandLineRules& rules, CommandLine* line,
                      std::string* error);

// The desktop program's usage lines and its --help, for `program`
// ("talvo", "talvo.exe").
std::string DesktopUsage(const char* program);
std::string DesktopHelp(const char* program);

// The text in double quotes, control characters, quotes and backslashes
// escaped, cut after `limit` characters with "..." after the quote.
std::string QuoteText(const std::string& text, size_t limit = 200);
