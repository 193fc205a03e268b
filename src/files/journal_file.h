// The session journal on disk: a folder of segment files, each written
// once, whole, and flushed (numbered in order, NNNNNNNN.seg), each a magic
// line and then records, every record checked by its own CRC-32. What a
// record means is the journal's business (app/journal.h); here it is only
// written and read back.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The format's version: a journal of another is not read.
constexpr uint32_t JournalVersion = 1;

enum JournalRecordType : uint8_t {
    // The session's start: the scene's path and the hash of its file then.
    RecordHeader = 1,
    // The whole state (app/scene_bytes.h), packed, with the scene's path
    // and the hash its file should have, as the header has them: what came
    // before a checkpoint may be gone.
    RecordCheckpoint = 2,
    // A message the program handled.
    RecordInput = 3,
    // The frame reached when the journal was flushed.
    RecordTick = 4,
    // A frame the window showed.
    RecordShown = 5,
    // The scene went to its file (the hash of the bytes written).
    RecordSaved = 6,
    // A clean end: nothing to recover.
    RecordEnd = 7,
};

struct JournalRecord {
    uint8_t type = 0;
    // Frames run and milliseconds of play in the session at the record.
    uint64_t frame = 0;
    uint64_t playMs = 0;
    // Header, checkpoint, tick: the wall clock, milliseconds since 1970.
    uint64_t utc = 0;
    // Input.
    uint32_t message = 0, wParam = 0;
    int32_t lParam = 0;
    // Header: the pouring cycle's generator as the session began.
    uint32_t seed = 0;
    // Header, checkpoint, saved: the scene file's hash, and its name.
    uint64_t hash = 0;
    std::string text;
    // Checkpoint: the state's size and its packed bytes.
    uint32_t rawSize = 0;
    std::vector<uint8_t> data;
};

// A segment's first bytes.
void StartJournalSegment(std::vector<uint8_t>* out);
void AppendJournalRecord(const JournalRecord& record, std::vector<uint8_t>* out);

enum JournalSegmentStatus { SegmentWhole, SegmentCut, SegmentForeign, SegmentOtherVersion };
// The records of one segment's bytes, as far as they are whole: a record
// cut short or damaged ends the reading (SegmentCut); bytes that are no
// journal, or one of another version, give none.
JournalSegmentStatus ReadJournalSegment(const uint8_t* bytes, size_t size, std::vector<JournalRecord>* out);

// The file name of segment `number`; the number a name stands for, or -1.
std::string JournalSegmentName(uint32_t number);
int64_t JournalSegmentNumber(const std::string& name);
