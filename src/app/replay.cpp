#include "app/replay.h"

#include <algorithm>

#include "app/main_routine.h"
#include "app/scene_bytes.h"
#include "codecs/lz_pack.h"
#include "framework/file_system.h"
#include "framework/window.h"
#include "ui/menu.h"
#include "ui/pen.h"

namespace {

using Segments = std::vector<std::pair<int64_t, std::string>>;

// The journal's segments in the folder, by number; false when the folder
// cannot be read.
bool SegmentsIn(const std::string& folder, Segments* segments)
{
    std::vector<std::string> names;
    if (!FileListFolder(folder.c_str(), &names)) return false;
    for (const std::string& name : names)
        if (JournalSegmentNumber(name) >= 0) segments->emplace_back(JournalSegmentNumber(name), name);
    std::sort(segments->begin(), segments->end());
    return true;
}

// The one reader of a journal's segments, for recovery and replay alike:
// those given, in order, up to the first that is not whole.
bool ReadSegments(const std::string& folder, const Segments& segments, JournalReading* out)
{
    bool any = false;
    for (const auto& segment : segments) {
        std::vector<uint8_t> bytes;
        if (!FileReadWhole((folder + segment.second).c_str(), &bytes)) {
            out->damaged.push_back(segment.second);
            continue;
        }
        const JournalSegmentStatus status = ReadJournalSegment(bytes.data(), bytes.size(), &out->records);
        if (status == SegmentOtherVersion) out->otherVersion = true;
        if (status != SegmentWhole) out->damaged.push_back(segment.second);
        if (status == SegmentWhole || status == SegmentCut) any = true;
        // What follows a damaged segment cannot be trusted to follow on.
        if (status != SegmentWhole) break;
    }
    for (const JournalRecord& record : out->records)
        if (record.type == RecordHeader || record.type == RecordCheckpoint) out->scenePath = record.text;
    return any || out->otherVersion || !out->damaged.empty();
}

bool PutCheckpointInForce(const JournalRecord& checkpoint)
{
    // A checkpoint is at most the largest state there can be.
    if (checkpoint.rawSize > (4u << 20)) return false;
    std::vector<uint8_t> state(checkpoint.rawSize);
    return LzUnpack(checkpoint.data.data(), checkpoint.data.size(), state.data(), state.size()) &&
           SceneFromBytes(state.data(), state.size(), SceneInHand);
}

// Frames between two records of one session are at most those between two
// checkpoints; more is no journal the program wrote.
constexpr uint64_t LongestGap = 20000;

} // namespace

bool IsSceneInput(uint32_t message, uint32_t wParam)
{
    if (message >= WmMouseMove && message <= WmRButtonUp) return message != 0x203; // no double click
    if (message != WmSysCommand) return false;
    const auto in = [wParam](uint32_t base, uint32_t count) { return wParam >= base && wParam < base + count; };
    return wParam == CmdDrawingOn || in(CmdPenBase, 3) || in(CmdEraserBase, 3) || in(CmdSpeedBase, 5) ||
           in(CmdSlot1Base, 5) || in(CmdSlot2Base, 5);
}

bool ReadJournal(const std::string& folder, JournalReading* out)
{
    Segments segments;
    return SegmentsIn(folder, &segments) && ReadSegments(folder, segments, out);
}

bool JournalFinished(const std::string& folder)
{
    Segments segments;
    if (!SegmentsIn(folder, &segments)) return false;
    if (segments.empty()) return true;
    // The last segment alone tells most: an unclean end is not read further.
    JournalReading last;
    if (!ReadSegments(folder, {segments.back()}, &last) || !last.damaged.empty() || last.records.empty() ||
        last.records.back().type != RecordEnd)
        return false;
    JournalReading reading;
    return ReadSegments(folder, segments, &reading) && !reading.otherVersion && !reading.records.empty() &&
           reading.records.back().type == RecordEnd;
}

int64_t LastCheckpointAtOrBefore(const std::vector<JournalRecord>& records, uint64_t frame)
{
    int64_t found = -1;
    for (size_t i = 0; i < records.size(); ++i)
        if (records[i].type == RecordCheckpoint && records[i].frame <= frame) found = static_cast<int64_t>(i);
    return found;
}

namespace {

bool Replaying = false;

// What the pen shows over the field is the player's, not the replay's.
struct Running {
    Running() { Replaying = true, PreviewOnWindow = false; }
    ~Running() { Replaying = false, PreviewOnWindow = true; }
};

} // namespace

bool ReplayRunning() { return Replaying; }

bool ReplayRecords(Scene* scene, const std::vector<JournalRecord>& records, size_t from, uint64_t until,
                   const ReplayWatch& watch, uint64_t* reached, size_t* endedAt)
{
    const HoldScene hold(scene);
    const Running running;
    uint64_t frame = records[from].frame;
    size_t i = from;
    bool going = true;
    for (; going && i < records.size(); ++i) {
        const JournalRecord& r = records[i];
        if (r.frame > until || r.type == RecordEnd) break;
        // Damage that the checksums let through ends the replay there.
        if (r.frame < frame || r.frame - frame > LongestGap || (r.type == RecordInput && !IsSceneInput(r.message, r.wParam)))
            break;
        // Frames run between the records, as the loop ran them; a frame
        // ends once the input of its number is in, just before the next.
        while (going && frame < r.frame) {
            if (watch.frameEnds && frame > records[from].frame) going = watch.frameEnds(frame, watch.context);
            AdvanceFrame();
            ++frame;
        }
        if (!going) break;
        if (r.type == RecordCheckpoint) {
            if (!PutCheckpointInForce(r)) {
                *reached = frame;
                *endedAt = i;
                return i != from;
            }
        } else if (r.type == RecordInput) {
            CallHandler(r.message, r.wParam, r.lParam);
        } else if (r.type == RecordShown && watch.shown) {
            going = watch.shown(r, watch.context);
        }
    }
    if (going && watch.frameEnds && frame > records[from].frame) watch.frameEnds(frame, watch.context);
    *reached = frame;
    *endedAt = i;
    return true;
}
