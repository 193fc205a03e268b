// Undo and redo of the strokes of the pen and eraser and of Clear: the
// field, the grains and the palette as they were just before each, packed.
// The settings and the generators go on. A new change after an undo drops
// what was undone; a scene loaded from a file starts the history anew. The
// history lives in memory only: after an undo or redo the journal takes a
// checkpoint, so a rebuild never needs it.
#pragma once
#include <cstddef>

// Keeps the present as the step an undo goes back to (before a stroke's
// first stamp, before Clear).
void HistoryRecord();
// False when there is nothing to undo or redo, or a stroke is under way.
bool HistoryUndo();
bool HistoryRedo();
void HistoryReset();
// True once, the first time since the history began that its oldest steps
// had to go to keep within its budget: the player is to be told.
bool HistoryTakeForgotten();
// Steps kept, and the bytes they take. The window's Undo and Redo buttons
// are offered exactly while there is a step to undo or redo.
size_t HistoryUndoSteps();
size_t HistoryRedoSteps();
size_t HistoryBytes();
