// The standard random draws (0 to 32767) of the pouring cycle: one small
// generator of our own, so a given seed gives the same run on every platform.
#pragma once
#include <cstdint>

void SeedStandardRandom(uint32_t seed);
// Where the generator stands: seeding with it goes on from there.
uint32_t StandardRandomState();
int32_t StandardRandom();
