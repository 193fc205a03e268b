#include "app/command_line.h"

#include <cstdio>

bool ParseCommandLine(const std::vector<std::string>& arguments, const CommandLineRules& rules, CommandLine* line,
                      std::string* error)
{
    *line = CommandLine{};
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        const OwnOption* own = nullptr;
        for (const OwnOption& option : rules.own)
            if (arg == option.name) own = &option;
        if (own) {
            std::string value;
            if (own->takesValue) {
                if (i + 1 >= arguments.size()) {
                    *error = arg + " needs a value";
                    return false;
                }
                value = arguments[++i];
            }
            line->own.emplace_back(arg, value);
        } else if (arg == "--help" || arg == "-h" || (rules.slashHelp && arg == "/?")) {
            line->help = true;
        } else if (arg == "--version") {
            line->version = true;
        } else if (rules.dataHome && arg == "--data-home") {
            line->dataHome = true;
        } else if (arg == "--") {
            line->scenes.insert(line->scenes.end(), arguments.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                arguments.end());
            break;
        } else if (arg.size() > 1 && arg[0] == '-') {
            // Never a scene: a mistyped option would otherwise be saved to.
            *error = "unknown option " + QuoteText(arg);
            return false;
        } else {
            line->scenes.push_back(arg);
        }
    }
    return true;
}

std::string DesktopUsage(const char* program)
{
    const std::string name = program;
    return "usage: " + name + " [--data-home] [--] [SCENE]\n       " + name + " --version | --help\n";
}

std::string DesktopHelp(const char* program)
{
    return DesktopUsage(program) +
           "\n"
           "Opens Talvo's window on SCENE and saves the scene there when the window\n"
           "closes.\n"
           "\n"
           "  SCENE        the scene file to load and save to (Default.talvo in the\n"
           "               current folder); with two or more, Default.talvo is used;\n"
           "               a name that begins with - goes after -- or as ./-name\n"
           "  --data-home  work in the user's own Talvo folder, made when missing, as\n"
           "               the desktop's menu starts it; a SCENE named beside it\n"
           "               still means the file it named\n"
           "  --version    print the version\n"
           "  --help, -h   print this\n"
           "\n"
           "Exit status: 0 when the window closed as asked; 1 when it could not open\n"
           "or something asked for was lost (a scene that could not be saved); 2 for\n"
           "a bad command line; 3 where there is no display to open it on.\n";
}

std::string QuoteText(const std::string& text, size_t limit)
{
    std::string out = "\"";
    for (size_t i = 0; i < text.size() && i < limit; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
    if (text.size() > limit) out += "...";
    return out;
}
