// talvo-sim's command line and its scripted input, read apart from the run
// so that every kind of bad input is refused before anything starts.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "framework/headless/headless.h"

struct SimOptions {
    int64_t frames = 1000;
    bool haveSeed = false;
    uint32_t seed = 0;
    std::string png;
    bool bench = false;
    bool realTime = false;
    bool noJournal = false;
    std::string replay;
    std::string gif;
    uint64_t gifEvery = 0; // 0: the window's pace (a replay), every frame (a scripted run)
    uint64_t gifFrom = 0, gifTo = UINT64_MAX;
    bool menu = false;
    // Empty: English.
    std::string language;
    bool help = false;
    bool version = false;
    std::string events;
    std::vector<std::string> scene;
    // The options given, by name, as given.
    std::vector<std::string> given;
};

// A whole decimal number in [low, high], with an optional sign.
bool ParseDecimal(const std::string& text, int64_t low, int64_t high, int64_t* out);

// False, with the reason in *error, when the command line cannot be used:
// a bad option or value, or an option that does nothing in the mode chosen
// (a run, or a replay).
bool ParseSimOptions(int argc, char** argv, SimOptions* options, std::string* error);

// One event a line: FRAME EVENT ARGS; a word that begins with # starts a
// comment. False at the first line that cannot be read, with
// "LINE: why: "the line"" in *error.
bool ParseSimEvents(const std::string& text, std::vector<HeadlessEvent>* events, std::string* error);
