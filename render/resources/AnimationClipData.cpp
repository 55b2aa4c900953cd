#include "render/resources/AnimationClipData.h"

#include "core/Memory.h"

AnimationClipData::AnimationClipData() {
    for (BoundingBox4& box : channelBoxes) box = BoundingBox4::INVALID;
}

void AnimationClipData::Clear() {
    ReleaseBuffer(&tracks);
    ReleaseBuffer(&keys);
    trackCount = keyCount = 0;
    length = 0.0f;
}

void AnimationClipData::Read(FileReader&) {}
