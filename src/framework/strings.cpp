#include "framework/strings.h"

#include <cstdio>
#include <vector>

#include "framework/platform.h"

static char TextBuffer[80];

const char* LoadResString(uint32_t id)
{
    char english[sizeof TextBuffer];
    if (PlatformLoadString(id, english, sizeof english) <= 0) english[0] = 0;
    std::snprintf(TextBuffer, sizeof TextBuffer, "%s", english[0] ? Translated(english) : "");
    return TextBuffer;
}

const char* Translated(const char* english)
{
    const char* text = english && english[0] ? PlatformTranslate(english) : nullptr;
    return text ? text : english;
}

std::string TranslatedWith(const char* english, std::initializer_list<std::string> words)
{
    const std::vector<std::string> given(words);
    const std::string pattern = Translated(english);
    std::string out;
    size_t next = 0;
    for (size_t at = 0; at < pattern.size(); ++at) {
        if (pattern[at] != '%' || at + 1 == pattern.size()) {
            out += pattern[at];
            continue;
        }
        size_t end = at + 1, number = 0;
        while (end < pattern.size() && pattern[end] >= '0' && pattern[end] <= '9')
            number = number * 10 + static_cast<size_t>(pattern[end++] - '0');
        if (pattern[at + 1] == '%') {
            out += '%';
            at += 1;
        } else if (number > 0 && end + 1 < pattern.size() && pattern[end] == '$' && pattern[end + 1] == 's') {
            if (number <= given.size()) out += given[number - 1];
            at = end + 1;
        } else if (pattern[at + 1] == 's') {
            if (next < given.size()) out += given[next++];
            at += 1;
        } else {
            out += '%';
        }
    }
    return out;
}
