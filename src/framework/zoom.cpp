#include "framework/zoom.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "framework/file_system.h"
#include "framework/platform.h"

namespace {

struct ZoomState {
    // -1 until read; else 0 (fit) or 1 to 4.
    int32_t choice = -1;
    // Where the platform zooms at all; fit only on the page.
    bool fitAllowed = false;
};
ZoomState Zoom;

constexpr char ZoomFileName[] = "zoom";
// Longer than any choice and its line break: a damaged file.
constexpr size_t ZoomFileLimit = 8;

std::string ZoomPath(bool make)
{
    char folder[FilePathLimit];
    if (!FileRescueFolder(folder, sizeof folder, make)) return std::string();
    return std::string(folder) + ZoomFileName;
}

} // namespace

int32_t ZoomParse(const char* text, size_t size, bool fitAllowed)
{
    if (size > 0 && text[size - 1] == '\n') --size;
    if (size > 0 && text[size - 1] == '\r') --size;
    if (size == 1 && text[0] >= '1' && text[0] <= '0' + ZoomLargest) return text[0] - '0';
    if (fitAllowed && size == 3 && std::memcmp(text, "fit", 3) == 0) return ZoomFit;
    return -1;
}

int32_t ZoomRead(const char* path, int32_t fallback, bool fitAllowed)
{
    std::vector<uint8_t> bytes;
    if (!FileReadWhole(path, &bytes, ZoomFileLimit + 1) || bytes.empty() || bytes.size() > ZoomFileLimit)
        return fallback;
    const int32_t choice = ZoomParse(reinterpret_cast<const char*>(bytes.data()), bytes.size(), fitAllowed);
    return choice < 0 ? fallback : choice;
}

size_t ZoomFormat(int32_t choice, char* out, size_t size)
{
    const int written = choice == ZoomFit ? std::snprintf(out, size, "fit\n") : std::snprintf(out, size, "%d\n", choice);
    return written > 0 && static_cast<size_t>(written) < size ? static_cast<size_t>(written) : 0;
}

void ZoomStart()
{
    const int32_t fallback = PlatformZoomDefault();
    if (fallback < 0) return;
    Zoom.fitAllowed = fallback == ZoomFit;
    const std::string path = ZoomPath(false);
    Zoom.choice = path.empty() ? fallback : ZoomRead(path.c_str(), fallback, Zoom.fitAllowed);
    PlatformSetZoom(Zoom.choice);
}

void ZoomChoose(int32_t choice)
{
    if (Zoom.choice < 0 || choice < (Zoom.fitAllowed ? ZoomFit : 1) || choice > ZoomLargest) return;
    Zoom.choice = choice;
    PlatformSetZoom(choice);
    // Not remembered where there is no data folder or it cannot be written:
    // the next start shows the default.
    const std::string path = ZoomPath(true);
    char bytes[ZoomFileLimit];
    const size_t size = ZoomFormat(choice, bytes, sizeof bytes);
    FileFacts facts;
    if (path.empty() || size == 0) return;
    const FileStatus looked = FileLook(path.c_str(), &facts);
    if (looked != FileDone && looked != FileMissing) return;
    FileReplace(&facts, reinterpret_cast<const uint8_t*>(bytes), size);
}

void ZoomStep(int32_t delta)
{
    if (Zoom.choice < 0) return;
    const int32_t from = Zoom.choice == ZoomFit ? 1 : Zoom.choice;
    int32_t to = from + delta;
    if (to < 1) to = 1;
    if (to > ZoomLargest) to = ZoomLargest;
    if (to != Zoom.choice) ZoomChoose(to);
}

int32_t ZoomChoice() { return Zoom.choice; }

void ZoomStateReset() { Zoom = ZoomState(); }
