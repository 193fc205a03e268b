#include "files/journal_file.h"

#include <cstdio>
#include <cstring>

#include "codecs/checksum.h"

namespace {

// "TALVO journal", the version, a line end: `head` shows what it is.
constexpr char Magic[] = "TALVO journal ";
constexpr size_t MagicSize = sizeof Magic - 1;
// A record is at most a checkpoint of the largest state, well within this.
constexpr uint32_t MaxPayload = 8u << 20;

void Put(std::vector<uint8_t>* out, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutText(std::vector<uint8_t>* out, const std::string& text)
{
    Put(out, text.size(), 4);
    out->insert(out->end(), text.begin(), text.end());
}

struct Reader {
    const uint8_t* at;
    const uint8_t* end;
    bool ok = true;
    uint64_t Take(int bytes)
    {
        if (end - at < bytes) {
            ok = false;
            return 0;
        }
        uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) v |= static_cast<uint64_t>(at[i]) << (8 * i);
        at += bytes;
        return v;
    }
    void TakeBytes(std::vector<uint8_t>* out, uint64_t size)
    {
        if (static_cast<uint64_t>(end - at) < size) {
            ok = false;
            return;
        }
        out->assign(at, at + size);
        at += size;
    }
    std::string TakeText()
    {
        std::vector<uint8_t> bytes;
        TakeBytes(&bytes, Take(4));
        return std::string(bytes.begin(), bytes.end());
    }
};

bool Decode(uint8_t type, const uint8_t* payload, size_t size, JournalRecord* r)
{
    Reader in{payload, payload + size};
    r->type = type;
    r->frame = in.Take(8);
    r->playMs = in.Take(8);
    switch (type) {
    case RecordHeader:
        r->utc = in.Take(8);
        r->hash = in.Take(8);
        r->seed = static_cast<uint32_t>(in.Take(4));
        r->text = in.TakeText();
        break;
    case RecordCheckpoint:
        r->utc = in.Take(8);
        r->hash = in.Take(8);
        r->text = in.TakeText();
        r->rawSize = static_cast<uint32_t>(in.Take(4));
        in.TakeBytes(&r->data, size - (in.at - payload));
        break;
    case RecordInput:
        r->message = static_cast<uint32_t>(in.Take(4));
        r->wParam = static_cast<uint32_t>(in.Take(4));
        r->lParam = static_cast<int32_t>(in.Take(4));
        break;
    case RecordTick:
        r->utc = in.Take(8);
        break;
    case RecordSaved:
        r->hash = in.Take(8);
        r->text = in.TakeText();
        break;
    case RecordShown:
    case RecordEnd:
        break;
    default:
        return false;
    }
    return in.ok && in.at == in.end;
}

} // namespace

void StartJournalSegment(std::vector<uint8_t>* out)
{
    char head[40];
    std::snprintf(head, sizeof head, "%s%u\n", Magic, JournalVersion);
    out->insert(out->end(), head, head + std::strlen(head));
}

void AppendJournalRecord(const JournalRecord& r, std::vector<uint8_t>* out)
{
    std::vector<uint8_t> payload;
    Put(&payload, r.frame, 8);
    Put(&payload, r.playMs, 8);
    switch (r.type) {
    case RecordHeader:
        Put(&payload, r.utc, 8);
        Put(&payload, r.hash, 8);
        Put(&payload, r.seed, 4);
        PutText(&payload, r.text);
        break;
    case RecordCheckpoint:
        Put(&payload, r.utc, 8);
        Put(&payload, r.hash, 8);
        PutText(&payload, r.text);
        Put(&payload, r.rawSize, 4);
        payload.insert(payload.end(), r.data.begin(), r.data.end());
        break;
    case RecordInput:
        Put(&payload, r.message, 4);
        Put(&payload, r.wParam, 4);
        Put(&payload, static_cast<uint32_t>(r.lParam), 4);
        break;
    case RecordTick:
        Put(&payload, r.utc, 8);
        break;
    case RecordSaved:
        Put(&payload, r.hash, 8);
        PutText(&payload, r.text);
        break;
    default:
        break;
    }
    const size_t start = out->size();
    out->push_back(r.type);
    Put(out, payload.size(), 4);
    out->insert(out->end(), payload.begin(), payload.end());
    Put(out, Crc32(out->data() + start, out->size() - start), 4);
}

JournalSegmentStatus ReadJournalSegment(const uint8_t* bytes, size_t size, std::vector<JournalRecord>* out)
{
    if (size < MagicSize || std::memcmp(bytes, Magic, MagicSize) != 0) return SegmentForeign;
    const uint8_t* line = static_cast<const uint8_t*>(std::memchr(bytes, '\n', size < 40 ? size : 40));
    if (!line) return SegmentForeign;
    uint32_t version = 0;
    for (const uint8_t* d = bytes + MagicSize; d < line; ++d) {
        if (*d < '0' || *d > '9' || version > 100000) return SegmentForeign;
        version = version * 10 + (*d - '0');
    }
    if (version != JournalVersion) return SegmentOtherVersion;
    const uint8_t* at = line + 1;
    const uint8_t* end = bytes + size;
    while (at < end) {
        if (end - at < 9) return SegmentCut;
        const uint32_t length = at[1] | at[2] << 8 | at[3] << 16 | static_cast<uint32_t>(at[4]) << 24;
        if (length > MaxPayload || static_cast<size_t>(end - at) < 9 + static_cast<size_t>(length)) return SegmentCut;
        const uint8_t* crcAt = at + 5 + length;
        const uint32_t crc = crcAt[0] | crcAt[1] << 8 | crcAt[2] << 16 | static_cast<uint32_t>(crcAt[3]) << 24;
        JournalRecord record;
        if (Crc32(at, 5 + length) != crc || !Decode(at[0], at + 5, length, &record)) return SegmentCut;
        out->push_back(std::move(record));
        at = crcAt + 4;
    }
    return SegmentWhole;
}

std::string JournalSegmentName(uint32_t number)
{
    char name[24];
    std::snprintf(name, sizeof name, "%08X.seg", number);
    return name;
}

int64_t JournalSegmentNumber(const std::string& name)
{
    if (name.size() != 12 || name.compare(8, 4, ".seg") != 0) return -1;
    int64_t number = 0;
    for (size_t i = 0; i < 8; ++i) {
        const char c = name[i];
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0) return -1;
        number = number * 16 + digit;
    }
    return number;
}
