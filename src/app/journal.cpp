#include "app/journal.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "app/history.h"
#include "app/replay.h"
#include "app/scene_bytes.h"
#include "app/standard_random.h"
#include "codecs/checksum.h"
#include "files/journal_file.h"
#include "codecs/lz_pack.h"
#include "files/scene_file.h"
#include "framework/file_system.h"
#include "framework/pump.h"
#include "framework/strings.h"
#include "framework/window.h"
#include "ui/menu.h"
#include "ui/pen.h"
#include "ui/settings.h"

namespace {

// At most a second of play is ever lost: a flush is due this long after
// the last and comes at the next frame's start (the slowest 120 ms later),
// leaving the disk the rest of the second to take it.
constexpr uint32_t FlushEveryMs = 500;
// A rebuild replays at most this much: by time at the slow speeds, by
// frames at "No wait", where a replay is no faster than play.
constexpr uint64_t CheckpointEveryMs = 60000;
constexpr uint64_t CheckpointEveryFrames = 10000;
// The last minute of play stays replayable, for the animation.
constexpr uint64_t KeepPlayMs = 60000;
// Shown frames are kept at the pace of a display, at most 50 a second.
constexpr uint64_t ShownEveryMs = 20;
// A frame counts at most this long as play: a stand-still is no play.
constexpr uint32_t LongestFrameMs = 200;
// A journal that could not be written is tried again this often, from a
// checkpoint of the moment.
constexpr uint32_t TryAgainEveryMs = 2000;

struct Segment {
    uint32_t number;
    bool checkpoint;
    uint64_t checkpointMs;
};

// The journal's state, all of it.
struct JournalState {
    bool Kept = false;
    bool Open = false;
    // Open, but the journal could not be written: nothing is recorded until a
    // try again succeeds. `Missed`: something happened meanwhile.
    bool Stalled = false;
    bool Missed = false;
    uint32_t StalledTicks = 0;
    std::string Folder;
    int64_t Lock = -1;
    uint64_t Frame = 0;
    uint64_t PlayMs = 0;
    uint32_t LastTicks = 0;
    uint32_t LastFlushTicks = 0;
    uint64_t LastTickFrame = 0;
    uint64_t LastCheckpointFrame = 0;
    uint64_t LastCheckpointMs = 0;
    uint64_t LastShownMs = 0;
    bool AnyShown = false;
    std::vector<uint8_t> Pending;
    bool PendingCheckpoint = false;
    uint32_t NextSegment = 0;
    std::vector<Segment> Written;
    std::string Note;
    uint64_t BytesWritten = 0, FilesWritten = 0;
    // The scene's file as the journal knows it: its real path, and the hash of
    // its bytes when the session began or last saved it.
    std::string ScenePath;
    uint64_t SceneHash = 0;
};

JournalState J;

// The wall clock in milliseconds since 1970.
uint64_t Utc()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

void AddNote(const std::string& text);

// The journal cannot be written (`cause`, the system's words; `where`, what
// was being written): said once, on standard error and in the note, until
// it works again. The program goes on, and tries again now and then.
void Stall(const std::string& cause, const std::string& where)
{
    if (!J.Stalled) {
        ShowLine(("the session journal cannot be kept (" + cause + ": " + where + "): a crash would lose what follows")
                     .c_str(),
                 "talvo");
        AddNote(TranslatedWith("Talvo cannot keep the journal of this session (%s), so a crash would lose what "
                               "follows. It tries again now and then.",
                               {cause}));
    }
    J.Stalled = J.Missed = true;
    J.StalledTicks = TickCount();
    J.Pending.clear();
    J.PendingCheckpoint = false;
}


JournalRecord Record(uint8_t type)
{
    JournalRecord r;
    r.type = type;
    r.frame = J.Frame;
    r.playMs = J.PlayMs;
    return r;
}

std::string HexOf(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(value));
    return text;
}

// A file longer than any scene is hashed by its first bytes alone: it is no
// scene the program saved either way, and it is never read whole.
uint64_t FileHash(const char* name)
{
    std::vector<uint8_t> bytes;
    FileReadWhole(name, &bytes, SceneMaxSize + 1);
    return Fnv64(bytes.data(), bytes.size());
}

// The file the scene name stands for, as one text for every way of naming
// it: links followed, the folder made whole.
std::string RealPath(const char* name)
{
    FileFacts facts;
    FileLook(name, &facts);
    std::string path = facts.path[0] ? facts.path : name;
    const bool whole = path[0] == '/' || path[0] == '\\' || (path.size() > 1 && path[1] == ':');
    if (!whole) {
        const std::string full = FileFullName(path.c_str());
        if (!full.empty()) path = full;
    }
    return path;
}

// "garden.talvo" with " (2)" before its ending, and so on.
std::string NameWith(const std::string& name, const std::string& addition)
{
    const size_t slash = name.find_last_of("/\\");
    const size_t dot = name.rfind('.');
    const size_t at = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1) ? dot : name.size();
    return name.substr(0, at) + addition + name.substr(at);
}

bool Exists(const std::string& name)
{
    FileFacts facts;
    FileLook(name.c_str(), &facts);
    return facts.exists != 0;
}

void WriteSegment()
{
    std::vector<uint8_t> bytes;
    StartJournalSegment(&bytes);
    bytes.insert(bytes.end(), J.Pending.begin(), J.Pending.end());
    const std::string path = J.Folder + JournalSegmentName(J.NextSegment);
    const FileStatus status = FileCreateNew(path.c_str(), bytes.data(), bytes.size());
    if (status != FileDone) {
        const std::string cause = FileLastError();
        // On a full disk what the last checkpoint makes needless goes, so
        // that the next try has room.
        if (status == FileNoRoom) {
            size_t last = 0;
            for (size_t i = 0; i < J.Written.size(); ++i)
                if (J.Written[i].checkpoint) last = i;
            for (size_t i = 0; i < last; ++i) FileRemove((J.Folder + JournalSegmentName(J.Written[i].number)).c_str());
            J.Written.erase(J.Written.begin(), J.Written.begin() + static_cast<std::ptrdiff_t>(last));
        }
        if (status == FileTaken) ++J.NextSegment;
        Stall(cause, path);
        return;
    }
    if (J.Stalled) {
        J.Stalled = J.Missed = false;
        ShowLine("the session journal is kept again", "talvo");
        AddNote(Translated("Talvo keeps the journal of this session again."));
    }
    J.Written.push_back({J.NextSegment, J.PendingCheckpoint, J.LastCheckpointMs});

    J.BytesWritten += bytes.size();
    ++J.FilesWritten;
    ++J.NextSegment;
    J.Pending.clear();
    if (!J.PendingCheckpoint) return;
    J.PendingCheckpoint = false;
    // Everything before the newest checkpoint that is a minute of play old
    // has served its time.
    size_t keep = 0;
    for (size_t i = 0; i < J.Written.size(); ++i)
        if (J.Written[i].checkpoint && J.Written[i].checkpointMs + KeepPlayMs <= J.PlayMs) keep = i;
    for (size_t i = 0; i < keep; ++i) FileRemove((J.Folder + JournalSegmentName(J.Written[i].number)).c_str());
    J.Written.erase(J.Written.begin(), J.Written.begin() + static_cast<std::ptrdiff_t>(keep));
}

// `ending`: the session's last record follows the frame reached.
void Flush(bool ending = false)
{
    if (!J.Open) return;
    JournalRecord tick = Record(RecordTick);
    tick.utc = Utc();
    AppendJournalRecord(tick, &J.Pending);
    if (ending) AppendJournalRecord(Record(RecordEnd), &J.Pending);
    WriteSegment();
    J.LastTickFrame = J.Frame;
    J.LastFlushTicks = TickCount();
}

void TakeCheckpoint()
{
    std::vector<uint8_t> state;
    SceneToBytes(LiveScene, &state);
    JournalRecord checkpoint = Record(RecordCheckpoint);
    checkpoint.utc = Utc();
    checkpoint.hash = J.SceneHash;
    checkpoint.text = J.ScenePath;
    checkpoint.rawSize = static_cast<uint32_t>(state.size());
    LzPack(state.data(), state.size(), &checkpoint.data);
    AppendJournalRecord(checkpoint, &J.Pending);
    J.PendingCheckpoint = true;
    J.LastCheckpointFrame = J.Frame;
    J.LastCheckpointMs = J.PlayMs;
}

// Old segments are the old session's: gone once it is rebuilt, or kept
// aside (NAME.damaged) when they could not be used.
void ClearFolder(const std::vector<std::string>& aside)
{
    std::vector<std::string> names;
    FileListFolder(J.Folder.c_str(), &names);
    for (const std::string& name : names) {
        if (JournalSegmentNumber(name) < 0) continue;
        if (std::find(aside.begin(), aside.end(), name) != aside.end()) {
            FileFacts facts;
            if (FileLook((J.Folder + name).c_str(), &facts) == FileDone) {
                std::string kept = name + ".damaged";
                for (int n = 2; FileMoveAside(&facts, kept.c_str()) == FileTaken && n < 1000; ++n)
                    kept = name + ".damaged-" + std::to_string(n);
            }
        } else {
            FileRemove((J.Folder + name).c_str());
        }
    }
}

std::string TimeText(uint64_t utc)
{
    const std::time_t when = static_cast<std::time_t>(utc / 1000);
    char text[64] = "";
    if (const std::tm* local = std::localtime(&when)) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local);
    return text;
}

void AddNote(const std::string& text) { J.Note += (J.Note.empty() ? "" : " ") + text; }

// The last session on this scene did not end cleanly: its scene rebuilt,
// saved, and the user told. True when it went beside the scene's file,
// which was replaced since.
bool Recover(const JournalReading& reading, const std::string& realPath)
{
    if (!reading.scenePath.empty() && reading.scenePath != realPath) {
        AddNote(TranslatedWith("A journal kept for another scene was found in %s and kept aside unused.", {J.Folder}));
        return false;
    }
    const int64_t first = LastCheckpointAtOrBefore(reading.records, ~uint64_t{0});
    uint64_t reached = 0, expected = 0, when = 0;
    size_t end = 0;
    for (const JournalRecord& r : reading.records) {
        if (r.type == RecordHeader || r.type == RecordCheckpoint || r.type == RecordSaved) expected = r.hash;
        if (r.utc) when = r.utc;
    }
    if (first < 0 ||
        !ReplayRecords(&LiveScene, reading.records, static_cast<size_t>(first),
                       reading.records[static_cast<size_t>(first)].frame + 2 * CheckpointEveryFrames, ReplayWatch{},
                       &reached, &end)) {
        AddNote(Translated("Talvo did not end cleanly last time, but what it kept of that session could not be "
                           "used: the scene is as its file holds it."));
        return false;
    }
    // A stroke cut off by the end is over.
    if (ToolState != ToolIdle) {
        ToolState = ToolIdle;
        CaptureMouse(false);
    }
    HistoryReset();
    // The scene file was replaced since: the rebuilt scene goes beside it.
    std::string wrote = SceneFileName;
    const bool beside = FileHash(SceneFileName) != expected;
    if (beside) {
        std::string beside = NameWith(SceneFileName, " (recovered)");
        for (int n = 2; Exists(beside) && n < 1000; ++n)
            beside = NameWith(SceneFileName, " (recovered " + std::to_string(n) + ")");
        std::snprintf(SceneFileName, sizeof SceneFileName, "%s", beside.c_str());
        wrote = beside;
    }
    // No journal is open yet to hear of the save.
    SaveSceneOrOffer(false);
    AddNote(TranslatedWith("Talvo did not end cleanly last time. The scene was rebuilt as it was at %s (frame %s) "
                           "and saved to %s.",
                           {TimeText(when), std::to_string(reached), wrote}));
    if (beside) AddNote(Translated("Its file had been replaced since, and was left as it is."));
    return beside;
}

} // namespace

void SetJournalKept(bool kept) { J.Kept = kept; }
bool JournalKept() { return J.Kept; }

void JournalReset()
{
    if (J.Lock >= 0) FileUnlock(J.Lock);
    J.Lock = -1;
    J.Open = J.Stalled = J.Missed = false;
    J.Folder.clear();
    J.Frame = J.PlayMs = 0;
    J.LastTicks = J.LastFlushTicks = 0;
    J.LastTickFrame = J.LastCheckpointFrame = J.LastCheckpointMs = J.LastShownMs = 0;
    J.AnyShown = false;
    J.Pending.clear();
    J.PendingCheckpoint = false;
    J.NextSegment = 0;
    J.Written.clear();
    J.Note.clear();
}

namespace {

// Journals stay for this many scenes, those used last: enough to go back
// to the last session of each scene in use with talvo-sim --replay, and few
// enough that the folder stays small however many scenes come and go.
constexpr size_t ScenesJournalled = 8;

std::string JournalsIn(const char* data) { return std::string(data) + "journal/"; }

// The folder of the scene's journal (no separator at the end); its lock is
// the file beside it, FOLDER.lock.
std::string FolderOf(const char* data, const std::string& realPath)
{
    return JournalsIn(data) + HexOf(Fnv64(reinterpret_cast<const uint8_t*>(realPath.data()), realPath.size()));
}

bool FolderThere(const std::string& folder)
{
    std::vector<std::string> names;
    return FileListFolder(folder.c_str(), &names);
}

// What is left in the folder goes with it; the lock's file goes too.
void RemoveJournal(const std::string& folder, int64_t lock)
{
    std::vector<std::string> names;
    FileListFolder(folder.c_str(), &names);
    for (const std::string& name : names) FileRemove((folder + "/" + name).c_str());
    FileRemoveFolder(folder.c_str());
    FileUnlockAndRemove(lock, (folder + ".lock").c_str());
}

// The journals of scenes beyond the ones used last are removed, unless
// another program holds one or it holds a session still to be rebuilt,
// which waits for the next start on its scene.
void RemoveOldJournals(const char* data)
{
    const std::string journals = JournalsIn(data);
    std::vector<FolderEntry> folders;
    if (!FileListFolders(journals.c_str(), &folders)) return;
    std::sort(folders.begin(), folders.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.changedMs > b.changedMs; });
    for (size_t i = ScenesJournalled; i < folders.size(); ++i) {
        const std::string folder = journals + folders[i].name;
        int64_t lock = -1;
        if (folder + "/" == J.Folder || FileLock((folder + ".lock").c_str(), &lock) != FileDone) continue;
        if (JournalFinished(folder + "/"))
            RemoveJournal(folder, lock);
        else
            FileUnlock(lock);
    }
}

// Takes the scene's lock (moving to a copy of its own when another program
// holds it), recovers what an unclean end left, and clears the folder.
// False when no journal folder is kept for it: none can be made (`cause`
// and `where` say why), or this program keeps no journal (and then leaves
// neither folder nor lock).
bool LockAndRecover(const char* data, std::string* cause, std::string* where)
{
    for (int round = 0;; ++round) {
        const std::string original = SceneFileName;
        int copy = 1;
        bool held = true;
        for (;;) {
            J.ScenePath = RealPath(SceneFileName);
            J.Folder = FolderOf(data, J.ScenePath);
            const std::string lock = J.Folder + ".lock";
            // Where there is neither, no program holds the scene and no
            // session of it is left to rebuild.
            if (!J.Kept && !FolderThere(J.Folder) && !Exists(lock)) {
                held = false;
                break;
            }
            const std::string journals = JournalsIn(data);
            if (!FileMakeFolders(journals.c_str())) {
                *cause = FileLastError();
                *where = journals;
                return false;
            }
            const FileStatus locked = FileLock(lock.c_str(), &J.Lock);
            // Made once the lock is held: the program that held it before
            // may have removed the folder as it let go.
            if (locked == FileDone && J.Kept && !FileMakeFolders(J.Folder.c_str())) {
                *cause = FileLastError();
                *where = J.Folder;
                return false;
            }
            J.Folder += "/";
            if (locked == FileDone) break;
            J.Lock = -1;
            if (locked != FileTaken || copy >= 100) {
                *cause = FileLastError();
                *where = lock;
                return false;
            }
            std::string name;
            do name = NameWith(original, " (" + std::to_string(++copy) + ")");
            while (Exists(name) && copy < 100);
            std::snprintf(SceneFileName, sizeof SceneFileName, "%s", name.c_str());
        }
        if (original != SceneFileName)
            AddNote(TranslatedWith("%s is open in another Talvo window. This one works on a copy of its own, %s, so "
                                   "that neither overwrites the other.",
                                   {original, SceneFileName}));
        if (!held) {
            J.Folder.clear();
            return false;
        }

        JournalReading reading;
        bool moved = false;
        if (ReadJournal(J.Folder, &reading)) {
            const bool clean = !reading.records.empty() && reading.records.back().type == RecordEnd;
            if (reading.otherVersion)
                AddNote(TranslatedWith("A journal of another version of Talvo was found in %s and kept aside unused.", {J.Folder}));
            else if (!clean)
                moved = Recover(reading, J.ScenePath);
            if (!reading.damaged.empty() && !reading.otherVersion)
                AddNote(TranslatedWith("Part of the journal was damaged and is kept aside in %s.", {J.Folder}));
        }
        ClearFolder(reading.damaged);
        if (!J.Kept) {
            // Nothing of this program's stays, but what was kept aside.
            const std::string folder = J.Folder.substr(0, J.Folder.size() - 1);
            FileRemoveFolder(folder.c_str());
            FileUnlockAndRemove(J.Lock, (folder + ".lock").c_str());
            J.Lock = -1;
            J.Folder.clear();
            return false;
        }
        if (!moved || round > 0) return true;
        // The session goes on beside the replaced file, under its own lock.
        FileUnlock(J.Lock);
        J.Lock = -1;
    }
}

// The start of a journal: the scene's path and file, the seed, and a
// checkpoint of now.
void BeginRecords()
{
    JournalRecord header = Record(RecordHeader);
    header.utc = Utc();
    header.hash = J.SceneHash;
    header.seed = StandardRandomState();
    header.text = J.ScenePath;
    AppendJournalRecord(header, &J.Pending);
    TakeCheckpoint();
}

// A stalled journal tried again: the folder and the lock where they could
// not be had, then a checkpoint of now, which is all a rebuild needs.
void TryAgain(bool ending)
{
    J.StalledTicks = TickCount();
    J.Pending.clear();
    if (J.Lock < 0) {
        char data[FilePathLimit];
        if (!FileRescueFolder(data, sizeof data, true) || !FileMakeFolders(JournalsIn(data).c_str())) return;
        const std::string folder = FolderOf(data, J.ScenePath);
        if (FileLock((folder + ".lock").c_str(), &J.Lock) != FileDone) {
            J.Lock = -1;
            return;
        }
        if (!FileMakeFolders(folder.c_str())) return;
        // What an earlier session left here stays for the next start.
        J.Folder = folder + "/";
        std::vector<std::string> names;
        FileListFolder(J.Folder.c_str(), &names);
        J.NextSegment = 0;
        for (const std::string& name : names)
            if (JournalSegmentNumber(name) >= J.NextSegment) J.NextSegment = static_cast<uint32_t>(JournalSegmentNumber(name)) + 1;
        J.Written.clear();
        BeginRecords();
    } else {
        // The folder may have gone meanwhile.
        FileMakeFolders(J.Folder.c_str());
        TakeCheckpoint();
    }
    Flush(ending);
}

} // namespace

std::string JournalFolderOf(const char* scene)
{
    char data[FilePathLimit];
    if (!scene[0] || !FileRescueFolder(data, sizeof data, false)) return "";
    return FolderOf(data, RealPath(scene)) + "/";
}

void JournalOpenScene()
{
    if (J.Open) JournalEndCleanly();
    if (J.Lock >= 0) FileUnlock(J.Lock);
    J.Lock = -1;
    J.Folder.clear();
    // Another scene, another history, with or without a journal.
    HistoryReset();
    J.Stalled = J.Missed = false;
    if (!SceneFileName[0]) return;
    char data[FilePathLimit];
    std::string cause, where;
    bool ready = FileRescueFolder(data, sizeof data, J.Kept);
    if (!ready) {
        cause = FileLastError();
        where = "the data folder";
        J.ScenePath = RealPath(SceneFileName);
    } else {
        ready = LockAndRecover(data, &cause, &where);
    }
    if (!ready) J.Folder.clear();
    if (!J.Kept) return;
    if (ready) RemoveOldJournals(data);

    // A new session, from the scene as it is now.
    J.Open = true;
    J.Frame = J.PlayMs = 0;
    J.LastTicks = J.LastFlushTicks = TickCount();
    J.LastTickFrame = 0;
    J.AnyShown = false;
    J.Written.clear();
    J.Pending.clear();
    J.NextSegment = 0;
    J.SceneHash = FileHash(SceneFileName);
    if (!ready) {
        Stall(cause, where);
        return;
    }
    BeginRecords();
    Flush();
}

void JournalFrameStarts()
{
    if (!J.Open) return;
    const uint32_t now = TickCount();
    J.PlayMs += std::min(now - J.LastTicks, LongestFrameMs);
    J.LastTicks = now;
    if (J.Stalled) {
        if (now - J.StalledTicks >= TryAgainEveryMs) TryAgain(false);
        ++J.Frame;
        return;
    }
    if (J.Frame - J.LastCheckpointFrame >= CheckpointEveryFrames ||
        (J.Frame > J.LastCheckpointFrame && J.PlayMs - J.LastCheckpointMs >= CheckpointEveryMs))
        TakeCheckpoint();
    if (now - J.LastFlushTicks >= FlushEveryMs && (J.Frame != J.LastTickFrame || !J.Pending.empty())) Flush();
    ++J.Frame;
}

void JournalFrameShown()
{
    if (!J.Open || J.Stalled || (J.AnyShown && J.PlayMs - J.LastShownMs < ShownEveryMs)) return;
    J.AnyShown = true;
    J.LastShownMs = J.PlayMs;
    AppendJournalRecord(Record(RecordShown), &J.Pending);
}

uint32_t JournalIdle()
{
    if (J.Open && J.Stalled) {
        // At a stand-still only what happened since is worth a try.
        if (!J.Missed) return PlatformForever;
        const uint32_t since = TickCount() - J.StalledTicks;
        if (since < TryAgainEveryMs) return TryAgainEveryMs - since;
        TryAgain(false);
        return J.Stalled ? TryAgainEveryMs : PlatformForever;
    }
    if (!J.Open || J.Pending.empty()) return PlatformForever;
    const uint32_t since = TickCount() - J.LastFlushTicks;
    if (since < FlushEveryMs) return FlushEveryMs - since;
    Flush();
    return PlatformForever;
}

void JournalFlush()
{
    if (J.Open && !J.Stalled && !J.Pending.empty()) Flush();
}

void JournalCheckpoint()
{
    if (J.Open && !J.Stalled) TakeCheckpoint();
}

void JournalSceneSaved()
{
    if (!J.Open) return;
    size_t size = 0;
    const uint8_t* bytes = EncodedScene(&size);
    JournalRecord saved = Record(RecordSaved);
    saved.hash = J.SceneHash = Fnv64(bytes, size);
    saved.text = SceneFileName;
    if (!J.Stalled) AppendJournalRecord(saved, &J.Pending);
}

void JournalEndCleanly()
{
    if (!J.Open) return;
    // A stalled journal gets a last try, so that the next start does not
    // rebuild what was saved.
    if (J.Stalled)
        TryAgain(true);
    else
        Flush(true);
    J.Open = false;
}

bool JournalStalled() { return J.Open && J.Stalled; }

void JournalWatch(uint32_t message, uint32_t wParam, int32_t lParam)
{
    if (!J.Open) return;
    if (J.Stalled) {
        J.Missed = J.Missed || IsSceneInput(message, wParam);
        return;
    }
    // A move changes something only during a stroke.
    if (!IsSceneInput(message, wParam) || (message == WmMouseMove && (ToolState == ToolIdle || !DrawingEnabled)))
        return;
    JournalRecord input = Record(RecordInput);
    input.message = message;
    input.wParam = wParam;
    input.lParam = lParam;
    AppendJournalRecord(input, &J.Pending);
}

std::string JournalTakeNote()
{
    std::string note;
    note.swap(J.Note);
    return note;
}

std::string JournalFolder() { return J.Folder; }
uint64_t JournalBytesWritten() { return J.BytesWritten; }
uint64_t JournalFilesWritten() { return J.FilesWritten; }
uint64_t JournalFrame() { return J.Frame; }
