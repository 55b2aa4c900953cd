#include "core/Sync.h"

bool Semaphore::WaitSeconds(float seconds) {
    // Truncated toward zero; a negative wait would become an endless unsigned wait.
    float ms = seconds * 1000.0f;
    if (!(ms > 0.0f)) ms = 0.0f;
    if (ms >= 4294967294.0f) return sem.Wait(os::kWaitInfinite - 1);
    return sem.Wait(static_cast<uint32_t>(ms));
}
