// How a scene's bytes reach the disk: the scene file replaced whole or, where
// that would break its links, written in place; a damaged scene kept aside
// first; and a scene that cannot be saved rescued to the user's data folder,
// with a message that names both files.
#pragma once
#include <cstddef>
#include <cstdint>

// How a failed save is told: in a message box, or, when the session is
// ending and nobody may be kept waiting on a box, in a note beside the
// rescued scene (NAME.txt for NAME.talvo) and on standard error.
enum SaveReport : int32_t { ReportInBox, ReportInRescueFolder };

// 1 when the bytes are under `name`. Otherwise the user has been told why,
// and where the scene went instead. `keepOld`: the file under the name was
// refused at load; it is moved aside (NAME.damaged, NAME.damaged-2, ...)
// before it is replaced.
int32_t StoreScene(const char* name, const uint8_t* bytes, size_t size, bool keepOld, SaveReport report);

// Writes `text` into `out` with control characters as \xNN, at most `limit`
// bytes of it, "..." marking a cut; always terminated.
void EscapeText(const char* text, size_t limit, char* out, size_t size);
