// The start-up script init.txt: colours and shapes for every new scene.
#pragma once
#include <cstdint>

// Element 0 the keyword code, 1..7 the numbers that follow it.
struct ScriptCommand {
    int32_t values[8];
};

constexpr int32_t ScriptLineSize = 256;
constexpr int32_t ScriptTokenLimit = 14;

extern int32_t ColoursSetFlag;

// As at process start: no colour set by a script.
void InitScriptReset();

// 1 when init.txt was opened and read, 0 when it cannot be opened or is
// longer than a start-up script can be (files/side_files.h).
int32_t RunInitScript();
// Fills the command from one line; returns the tokens read (1..8), or 0 for
// a comment or a line with an over-long token.
int32_t TokenizeLine(const char* line, ScriptCommand& command);
// The keyword's code (1..12), or 0.
int32_t LookUpKeyword(const char* token);
void ExecuteCommand(const ScriptCommand& command, int32_t count);
