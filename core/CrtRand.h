#pragma once
// The engine-wide random generator: the classic 15-bit linear congruential rule
// (state = state * 214013 + 2531011; result = (state >> 16) & 0x7FFF). State is per
// thread and starts at 1, as the C library's does.
#include <cstdint>

constexpr int kCrtRandMax = 0x7FFF;
int CrtRand();
void CrtSrand(uint32_t seed);
