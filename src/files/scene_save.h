// How a scene's bytes reach the disk: the scene file replaced whole or, where
// that would break its links, written in place; a damaged scene kept aside
// first; and a scene that cannot be saved rescued to the user's data folder,
// with a message that names both files.
#pragma once
#include <cstddef>
#include <cstdint>

// 1 when the bytes are under `name`. Otherwise the scene has been rescued
// where it could be, and StoreFailure() says why it was not saved and where
// it went instead, for the user. `keepOld`: the file under the name was
// refused at load; it is moved aside (NAME.damaged, NAME.damaged-2, ...)
// before it is replaced.
int32_t StoreScene(const char* name, const uint8_t* bytes, size_t size, bool keepOld);
// The message of the last failed StoreScene.
const char* StoreFailure();
// Whether that scene went to the rescue folder; when not, the message to
// show before the user is asked where to save it instead.
bool StoreRescued();
const char* StoreFailureToOffer();
// Writes that message beside the rescued scene (NAME.txt for NAME.talvo),
// where the user will find it when no message box may be shown.
void NoteBesideRescue();

// Writes `text` into `out` with control characters as \xNN, at most `limit`
// bytes of it, "..." marking a cut; always terminated.
void EscapeText(const char* text, size_t limit, char* out, size_t size);
