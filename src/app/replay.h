// A recorded session played again: from one of its checkpoints, frame by
// frame as the loop runs them, each recorded input handed to the handler
// the program registered for it, and where the session took a checkpoint
// (a Clear, a drop, an undo: what read files or the undo history) that
// state put in force. The same seed and input give the same bytes, so the
// replay ends where the session did.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "files/journal_file.h"
#include "sim/scene.h"

struct JournalReading {
    // In order, from every segment: the whole ones and the good part of the
    // one cut short.
    std::vector<JournalRecord> records;
    // Segments that were cut short, damaged or of another version.
    std::vector<std::string> damaged;
    bool otherVersion = false;
    // The scene the session was on, from its first record.
    std::string scenePath;
};
// The messages a journal keeps as input: the mouse's, and the commands
// that change a setting (what else changes the scene is kept by a
// checkpoint).
bool IsSceneInput(uint32_t message, uint32_t wParam);

// Reads the journal in `folder` (a name ending in the separator): false
// when there is no journal there (no segment, or none of this program).
bool ReadJournal(const std::string& folder, JournalReading* out);

// Whether the journal in `folder` (a name ending in the separator) has
// nothing left to rebuild: no segment at all, or a session of this program
// that ended cleanly, as a start on its scene would read it.
bool JournalFinished(const std::string& folder);

// The last checkpoint at or before `frame` (or at all), -1 when none.
int64_t LastCheckpointAtOrBefore(const std::vector<JournalRecord>& records, uint64_t frame);

// What a replay shows to whoever watches it: the end of each frame (after
// its input), and each frame the window showed, the surface as it was
// then. A callback that returns false stops the replay there.
struct ReplayWatch {
    bool (*frameEnds)(uint64_t frame, void* context) = nullptr;
    bool (*shown)(const JournalRecord& shown, void* context) = nullptr;
    void* context = nullptr;
};
// Plays records[from] (a checkpoint) and those after it on `scene`, up to
// the ones of frame `until`; false when a checkpoint cannot be put in force.
// *reached is the frame the replay ended at, *endedAt the index after the
// last record played. On a copy of the scene, nothing reaches the window,
// the menu or the live scene; the watchers are called with the copy in hand.
bool ReplayRecords(Scene* scene, const std::vector<JournalRecord>& records, size_t from, uint64_t until,
                   const ReplayWatch& watch, uint64_t* reached, size_t* endedAt);
// Whether a replay runs now: what it does must not be kept (undo history).
bool ReplayRunning();
