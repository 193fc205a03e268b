// Any file offered as a scene is either refused with nothing changed or
// loaded into a state every later frame can rely on.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/scene_handlers.h"
#include "files/scene_file.h"
#include "fuzz_support.h"
#include "sim/field.h"
#include "sim/particles.h"
#include "sim/rules.h"
#include "ui/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzStart();
    std::strcpy(SceneFileName, "fuzz.talvo");
    FuzzWriteFile("fuzz.talvo", data, size);
    const std::vector<uint8_t> field(Field, Field + FieldSize);
    const int16_t count = ParticleCount;
    const int32_t pen = PenSize;
    if (!LoadScene()) {
        if (std::memcmp(field.data(), Field, FieldSize) != 0 || ParticleCount != count || PenSize != pen) std::abort();
        return 0;
    }
    if (ParticleCount < 0 || ParticleCount > ParticleCapacity) std::abort();
    for (int32_t i = 0; i < ParticleCount; ++i)
        if (ParticleList[i] < FieldWidth || ParticleList[i] >= FieldSize - FieldWidth) std::abort();
    if (SlotKind1 < 0 || SlotKind1 > 4 || SlotKind2 < 0 || SlotKind2 > 4 || Speed < 0 || Speed > 9) std::abort();
    if (PenSize < 0 || PenSize > 2 || EraserSize < 0 || EraserSize > 2) std::abort();
    // A few frames' worth of steps on whatever was loaded.
    for (int frame = 0; frame < 3; ++frame)
        StepParticles(ParticleList, ParticleCount, RuleBlock + 256 * SlotKind1, RuleBlock + 256 * SlotKind2);
    // What is saved loads again.
    SaveScene();
    if (!LoadScene()) std::abort();
    return 0;
}
