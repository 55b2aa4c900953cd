#include "engine/input/TapPositions.h"

#include <cstdint>

#include "core/Sync.h"

namespace {

struct TapPositionRecord {
    const void* key;
    Vector position;
};
constexpr uint32_t kTapPositionRecords = 64;
CriticalSection gTapPositionLock;
TapPositionRecord gTapPositions[kTapPositionRecords];

}  // namespace

const Vector* FindTapPosition(const void* object) {
    CriticalSectionGuard guard(&gTapPositionLock);
    for (const TapPositionRecord& r : gTapPositions)
        if (object && r.key == object) return &r.position;
    return nullptr;
}

bool FindTapPosition(const void* object, Vector* out) {
    CriticalSectionGuard guard(&gTapPositionLock);
    for (const TapPositionRecord& r : gTapPositions)
        if (object && r.key == object) {
            *out = r.position;
            return true;
        }
    return false;
}

void SetTapPosition(const void* object, const Vector* position) {
    if (!object) return;
    CriticalSectionGuard guard(&gTapPositionLock);
    TapPositionRecord* free = nullptr;
    for (TapPositionRecord& r : gTapPositions) {
        if (r.key == object) {
            if (position) r.position = *position;
            else r.key = nullptr;
            return;
        }
        if (!r.key && !free) free = &r;
    }
    if (position && free) *free = TapPositionRecord{object, *position};
}
