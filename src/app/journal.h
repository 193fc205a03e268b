// The session journal: what it takes to rebuild the scene however the
// program ends (a crash, kill -9, a power cut). Every input the program
// handles is recorded by frame, with a checkpoint of the whole state now
// and then and after anything that read a file or the undo history (Clear,
// a drop, an undo), and written to the data folder as a new segment file,
// flushed to disk, at least once a second while anything changes; nothing
// while the scene stands at Stop with no input. The same seed and input
// give the same bytes on every platform, so a replay from the last
// checkpoint ends exactly at the last flushed frame.
//
// Each scene has its journal, found by the scene file's real path, and its
// lock: a second program on a scene that another has open works on a copy
// of its own and says so. At a start on a scene whose last session did not
// end cleanly, the scene is rebuilt and saved (beside its file when that
// was replaced since), and the user is told in a note.
#pragma once
#include <cstdint>
#include <string>

// Whether this program keeps a journal (the windows do, talvo-sim in real
// time); any start recovers what an unclean end left, either way.
void SetJournalKept(bool kept);
bool JournalKept();

// After the scene is loaded or made at start-up, and after another scene
// was loaded: the lock, the recovery of an unclean end, a new journal, and
// the journals of scenes long unused removed. A program that keeps none
// rebuilds what an unclean end left all the same, and then leaves no
// journal folder or lock behind.
void JournalOpenScene();
// At the top of every frame, before its step: flushes once a second and
// takes the periodic checkpoints.
void JournalFrameStarts();
// The window showed the frame (kept at most 50 times a second).
void JournalFrameShown();
// While the loop stands still: writes what is due; how long it may wait
// until the next thing is due (PlatformForever: nothing is).
uint32_t JournalIdle();
// Writes what is pending now (before the program may block).
void JournalFlush();
// The state changed by something a replay cannot repeat (Clear, a drop, an
// undo or redo): a checkpoint now.
void JournalCheckpoint();
// The scene went to its file.
void JournalSceneSaved();
// The session ends cleanly (after the closing save): nothing to recover.
void JournalEndCleanly();
// The journal is kept, but could not be written lately: it is tried again
// now and then, and the note says when it stops and when it works again.
bool JournalStalled();
// A message the main window got, before its handler runs.
void JournalWatch(uint32_t message, uint32_t wParam, int32_t lParam);

// The note for the user after the first frame (a recovery, a second
// program on the scene); empty when there is none. Taken once.
std::string JournalTakeNote();

// Where the journal of the scene `name` is kept, found as the program finds
// it (by the scene file's real path); made or not. Empty without a data
// folder.
std::string JournalFolderOf(const char* name);

// Where the journal of the scene open now is (empty when none), and how
// many frames it has run.
std::string JournalFolder();
uint64_t JournalFrame();

// What the journal wrote so far in this process: bytes and files.
uint64_t JournalBytesWritten();
uint64_t JournalFilesWritten();

// Back to the state at process start (no journal open; the lock let go).
void JournalReset();
