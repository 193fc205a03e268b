#include "app/standard_random.h"

#include "sim/scene.h"

// The generator is the scene's (PourState): a replay draws from its copy's.
void SeedStandardRandom(uint32_t seed) { SceneInHand->pour.standardRandom = seed; }
uint32_t StandardRandomState() { return SceneInHand->pour.standardRandom; }

int32_t StandardRandom()
{
    uint32_t& state = SceneInHand->pour.standardRandom;
    state = state * 214013u + 2531011u;
    return static_cast<int32_t>((state >> 16) & 0x7FFFu);
}
