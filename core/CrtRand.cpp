#include "core/CrtRand.h"

namespace {
thread_local uint32_t tRandState = 1;
}

int CrtRand() {
    tRandState = tRandState * 214013u + 2531011u;
    return static_cast<int>((tRandState >> 16) & 0x7FFF);
}

void CrtSrand(uint32_t seed) { tRandState = seed; }
