#include "files/scene_save.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "framework/file_system.h"
#include "framework/strings.h"

static const char Damaged[] = ".damaged";

namespace {

// Every text below is made in these, reserved with the program: the
// state of the saving, all of it.
struct SaveState {
    FileFacts Target;
    char Name[FilePathLimit];
    char Reason[512];
    char Rescue[FilePathLimit];
    char Shown[2][4 * FilePathLimit];
    char Message[8 * FilePathLimit + 1024];
    char Offer[sizeof Message];
    bool Rescued = false;
};

SaveState Saved;

} // namespace

void EscapeText(const char* text, size_t limit, char* out, size_t size)
{
    size_t at = 0, used = 0;
    for (; text[used] && used < limit; ++used) {
        const unsigned char c = static_cast<unsigned char>(text[used]);
        char piece[5] = {static_cast<char>(c), 0};
        if (c < 0x20 || c == 0x7F) std::snprintf(piece, sizeof piece, "\\x%02X", c);
        const size_t length = std::strlen(piece);
        if (at + length + 4 > size) break;
        std::memcpy(out + at, piece, length);
        at += length;
    }
    if (text[used] && at + 4 <= size) {
        std::memcpy(out + at, "...", 3);
        at += 3;
    }
    out[at] = 0;
}

// The next free name for a damaged file: NAME.damaged, NAME.damaged-2, ...,
// the name cut short where the whole would not fit a folder entry.
static void DamagedName(const char* name, int32_t number, char* out)
{
    char suffix[32];
    if (number == 1)
        std::snprintf(suffix, sizeof suffix, "%s", Damaged);
    else
        std::snprintf(suffix, sizeof suffix, "%s-%d", Damaged, static_cast<int>(number));
    size_t keep = std::strlen(name);
    const size_t room = static_cast<size_t>(FileNameLimit) - std::strlen(suffix);
    if (keep > room) {
        keep = room;
        // Not inside a UTF-8 character.
        while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    }
    std::snprintf(out, FileNameLimit + 1, "%.*s%s", static_cast<int>(keep), name, suffix);
}

static FileStatus MoveAside()
{
    for (int32_t number = 1; number <= 1000; ++number) {
        DamagedName(Saved.Target.path + Saved.Target.nameAt, number, Saved.Name);
        const FileStatus status = FileMoveAside(&Saved.Target, Saved.Name);
        if (status != FileTaken) return status;
    }
    return FileTaken;
}

// The save itself; on failure Reason says why.
static FileStatus Store(const char* name, const uint8_t* bytes, size_t size, bool keepOld)
{
    Saved.Reason[0] = 0;
    FileStatus status = FileLook(name, &Saved.Target);
    switch (status) {
    case FileDone: break;
    case FileMissing: return FileReplace(&Saved.Target, bytes, size);
    case FileNotRegular: std::snprintf(Saved.Reason, sizeof Saved.Reason, "it is not a regular file"); return status;
    case FileNoAccess: std::snprintf(Saved.Reason, sizeof Saved.Reason, "it cannot be read (%s)", FileLastError()); return status;
    case FileReadOnly: std::snprintf(Saved.Reason, sizeof Saved.Reason, "it is read-only (%s)", FileLastError()); return status;
    default: return status;
    }
    // Only a scene, or an empty file, is ever replaced by one.
    if (Saved.Target.headLength > 0 && (Saved.Target.headLength < 5 || std::memcmp(Saved.Target.head, "TALVO", 5) != 0)) {
        std::snprintf(Saved.Reason, sizeof Saved.Reason, "it is not a scene file");
        return FileFailed;
    }
    if (keepOld && Saved.Target.headLength > 0) {
        status = MoveAside();
        if (status != FileDone) {
            std::snprintf(Saved.Reason, sizeof Saved.Reason, "the damaged scene in it could not be kept aside (%s)",
                          status == FileTaken ? "no free name" : FileLastError());
            return status;
        }
        status = FileLook(name, &Saved.Target);
        if (status != FileMissing) return status == FileDone ? FileChanged : status;
        return FileReplace(&Saved.Target, bytes, size);
    }
    // A file with other names, or in a folder that takes no side file, is
    // written where it is, so that every name sees the new scene.
    if (Saved.Target.links > 1) return FileWriteInPlace(&Saved.Target, bytes, size);
    status = FileReplace(&Saved.Target, bytes, size);
    if (status == FileNoSideFile) status = FileWriteInPlace(&Saved.Target, bytes, size);
    return status;
}

// A new file in the rescue folder, named after the time.
static FileStatus RescueScene(const uint8_t* bytes, size_t size)
{
    Saved.Rescue[0] = 0;
    char folder[FilePathLimit - 64];
    if (!FileRescueFolder(folder, sizeof folder)) return FileMissing;
    const std::time_t now = std::time(nullptr);
    char stamp[32] = "0000-00-00-000000";
    if (const std::tm* local = std::localtime(&now)) std::strftime(stamp, sizeof stamp, "%Y-%m-%d-%H%M%S", local);
    FileStatus status = FileTaken;
    for (int32_t number = 1; number <= 1000 && status == FileTaken; ++number) {
        char suffix[16] = "";
        if (number > 1) std::snprintf(suffix, sizeof suffix, "-%d", static_cast<int>(number));
        std::snprintf(Saved.Rescue, sizeof Saved.Rescue, "%srescued-%s%s.talvo", folder, stamp, suffix);
        status = FileCreateNew(Saved.Rescue, bytes, size);
    }
    return status;
}

const char* StoreFailure() { return Saved.Message; }
bool StoreRescued() { return Saved.Rescued; }
const char* StoreFailureToOffer() { return Saved.Offer; }

void NoteBesideRescue()
{
    const size_t length = std::strlen(Saved.Rescue);
    if (length < 6) return;
    char note[FilePathLimit];
    std::snprintf(note, sizeof note, "%.*s.txt", static_cast<int>(length - 6), Saved.Rescue);
    FileCreateNew(note, reinterpret_cast<const uint8_t*>(Saved.Message), std::strlen(Saved.Message));
}

int32_t StoreScene(const char* name, const uint8_t* bytes, size_t size, bool keepOld)
{
    FileStatus status = FileFailed;
    if (!name[0])
        std::snprintf(Saved.Reason, sizeof Saved.Reason, "%s", Translated("it has no usable name"));
    else
        status = Store(name, bytes, size, keepOld);
    Saved.Message[0] = 0;
    if (status == FileDone) return 1;
    if (!Saved.Reason[0]) std::snprintf(Saved.Reason, sizeof Saved.Reason, "%s", status == FileChanged ? Translated("the file changed meanwhile") : FileLastError());
    EscapeText(name, FilePathLimit, Saved.Shown[0], sizeof Saved.Shown[0]);
    const std::string told = TranslatedWith("The scene could not be saved to \"%s\": %s.", {Saved.Shown[0], Saved.Reason}) + " ";
    const int length = std::min(std::snprintf(Saved.Message, sizeof Saved.Message, "%s", told.c_str()), static_cast<int>(sizeof Saved.Message) - 1);
    char* rest = Saved.Message + length;
    const size_t room = sizeof Saved.Message - static_cast<size_t>(length);
    const FileStatus rescued = RescueScene(bytes, size);
    Saved.Rescued = rescued == FileDone;
    EscapeText(Saved.Rescue, FilePathLimit, Saved.Shown[1], sizeof Saved.Shown[1]);
    std::memcpy(Saved.Offer, Saved.Message, static_cast<size_t>(length));
    char* offer = Saved.Offer + length;
    if (rescued == FileDone) {
        std::snprintf(rest, room, "%s", TranslatedWith("It was saved to \"%s\" instead.", {Saved.Shown[1]}).c_str());
    } else if (rescued == FileMissing) {
        std::snprintf(rest, room, "%s", Translated("There is no data folder to rescue it to, so it is lost."));
        std::snprintf(offer, room, "%s", Translated("There is no data folder to rescue it to: choose where to save it."));
    } else {
        const std::string why = FileLastError();
        std::snprintf(offer, room, "%s",
                      TranslatedWith("Nor could it be saved to \"%s\" (%s): choose where to save it.", {Saved.Shown[1], why}).c_str());
        std::snprintf(rest, room, "%s", TranslatedWith("Nor could it be saved to \"%s\" (%s), so it is lost.", {Saved.Shown[1], why}).c_str());
    }
    return 0;
}
