// Whatever lies in a scene's journal folder, the start on that scene goes
// on: a journal's good part is used or none, and the scene file changes
// only when a rebuild saved it. The first byte chooses the input's form:
// even, the segment's bytes as they are; odd, records (type, then a payload
// up to a zero-length marker) framed with the right lengths and checksums,
// so that what lies past the checksums is reached too.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/journal.h"
#include "app/main_routine.h"
#include "codecs/checksum.h"
#include "files/journal_file.h"
#include "files/scene_file.h"
#include "fuzz_support.h"
#include "sim/field.h"
#include "sim/particles.h"
#include "ui/settings.h"

namespace {

std::vector<uint8_t> Framed(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> out;
    StartJournalSegment(&out);
    size_t at = 0;
    while (at + 3 <= size) {
        const uint8_t type = data[at];
        const size_t length = std::min<size_t>(data[at + 1] | data[at + 2] << 8, size - at - 3);
        const size_t start = out.size();
        out.push_back(type);
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(length >> (8 * i)));
        out.insert(out.end(), data + at + 3, data + at + 3 + length);
        const uint32_t crc = Crc32(out.data() + start, out.size() - start);
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(crc >> (8 * i)));
        at += 3 + length;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzStart();
    static std::string folder;
    static std::vector<uint8_t> scene;
    if (folder.empty()) {
        std::strcpy(SceneFileName, "fuzz.talvo");
        SaveScene();
        // As a window keeps it: a plain run keeps none.
        SetJournalKept(true);
        JournalOpenScene();
        folder = JournalFolder();
        size_t length = 0;
        const uint8_t* bytes = EncodedScene(&length);
        scene.assign(bytes, bytes + length);
        if (folder.empty()) std::abort();
    }
    JournalReset();
    SetJournalKept(true);
    std::strcpy(SceneFileName, "fuzz.talvo");
    FuzzWriteFile("fuzz.talvo", scene.data(), scene.size());
    const std::vector<uint8_t> segment = size && (data[0] & 1) ? Framed(data + 1, size - 1)
                                                                 : std::vector<uint8_t>(data + (size ? 1 : 0), data + size);
    FuzzWriteFile((folder + JournalSegmentName(0)).c_str(), segment.data(), segment.size());
    JournalOpenScene();
    const std::string note = JournalTakeNote();
    // Whatever happened, what is in force is a scene every frame can rely on.
    if (ParticleCount < 0 || ParticleCount > ParticleCapacity) std::abort();
    for (int32_t i = 0; i < ParticleCount; ++i)
        if (ParticleList[i] < FieldWidth || ParticleList[i] >= FieldSize - FieldWidth) std::abort();
    if (SlotKind1 < 0 || SlotKind1 > 4 || SlotKind2 < 0 || SlotKind2 > 4 || Speed < 0 || Speed > 9) std::abort();
    AdvanceFrame();
    // The file changed only by a rebuild's save.
    size_t length = 0;
    EncodedScene(&length);
    std::FILE* file = std::fopen("fuzz.talvo", "rb");
    std::vector<uint8_t> now(scene.size() + 1);
    const size_t got = file ? std::fread(now.data(), 1, now.size(), file) : 0;
    if (file) std::fclose(file);
    now.resize(got);
    if (now != scene && note.find("was rebuilt") == std::string::npos) std::abort();
    return 0;
}
