#include "resources/translations.h"

#include <cctype>
#include <cstring>
#include <string>

namespace {

struct Entry {
    const char* catalogue;
    const char* english;
    const char* text;
};

const Entry Entries[] = {
#define TALVO_TEXT(catalogue, english, text) {catalogue, english, text},
#include "talvo_translations.inc"
#undef TALVO_TEXT
};

const char* Known(const std::string& name)
{
    for (const Entry& entry : Entries)
        if (name == entry.catalogue) return entry.catalogue;
    return nullptr;
}

} // namespace

const char* CatalogueFor(const char* language)
{
    if (!language) return nullptr;
    // Language, then script or region, in lower case; the encoding and
    // modifier go.
    std::string parts[3];
    int part = 0;
    for (const char* c = language; *c && *c != '.' && *c != '@' && part < 3; ++c) {
        if (*c == '_' || *c == '-')
            ++part;
        else if (part < 3)
            parts[part] += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    }
    if (parts[0] == "zh") {
        // Simplified Chinese: so written (Hans), or where it is the usual way
        // (China, Singapore, or no region at all); Traditional is not.
        bool simplified = true;
        for (const std::string& p : {parts[1], parts[2]}) {
            if (p == "hant" || p == "tw" || p == "hk" || p == "mo") simplified = false;
            if (p == "hans" || p == "cn" || p == "sg") return Known("zh_CN");
        }
        return simplified ? Known("zh_CN") : nullptr;
    }
    if (parts[0].empty()) return nullptr;
    return Known(parts[0]);
}

const char* CatalogueText(const char* catalogue, const char* english)
{
    if (!catalogue || !english) return nullptr;
    for (const Entry& entry : Entries)
        if (std::strcmp(entry.catalogue, catalogue) == 0 && std::strcmp(entry.english, english) == 0) return entry.text;
    return nullptr;
}
