#include "app/standard_random.h"

static uint32_t State = 1;

void SeedStandardRandom(uint32_t seed) { State = seed; }
uint32_t StandardRandomState() { return State; }

int32_t StandardRandom()
{
    State = State * 214013u + 2531011u;
    return static_cast<int32_t>((State >> 16) & 0x7FFFu);
}
