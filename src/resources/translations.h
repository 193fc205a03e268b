// The program's texts in the languages it has catalogues for (po/*.po,
// made into a table by the build), for the platforms that look them up
// themselves rather than through gettext.
#pragma once

// The catalogue's name ("de", "zh_CN") for a language as a platform names
// it ("de_AT.UTF-8", "de-CH", "zh-Hans-CN", "ja"); null where there is none,
// and for English, whose texts are the program's own.
const char* CatalogueFor(const char* language);
// The text in that catalogue's language; null where it has none.
const char* CatalogueText(const char* catalogue, const char* english);
