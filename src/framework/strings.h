// Texts from the program's string table, and every text the player reads in
// the player's language.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>

// Loads string `id` into an 80-byte buffer shared by every call and returns
// it, translated; an unknown id gives the empty text.
const char* LoadResString(uint32_t id);

// The English text in the player's language, as the platform chooses it;
// the English text itself where there is no translation.
const char* Translated(const char* english);
// Marks a text looked up with Translated later, for the catalogues' check.
#define N_(english) english
// Translated, then each %s (or %N$s, the Nth) filled in with the words
// given, in order; %% is a percent sign.
std::string TranslatedWith(const char* english, std::initializer_list<std::string> words);
