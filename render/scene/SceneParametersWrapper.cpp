#include "render/scene/SceneParametersWrapper.h"

#include <cstring>

SceneParametersWrapper::SceneParametersWrapper() { std::memset(block, 0, sizeof block); }

void SceneParametersWrapper::CopyFrom(const SceneParametersWrapper& other) {
    if (&other != this) std::memcpy(block, other.block, sizeof block);
}

void SceneParametersWrapper::CopySectionsFrom(const SceneParametersWrapper& other) {
    if (&other == this) return;
    for (uint32_t s = 0; s < SCENE_SECTION_COUNT; ++s) {
        if (!other.SectionPresent(s)) continue;
        block[s] = other.block[s];
        const SceneParameterSectionBytes& range = kSceneParameterSections[s];
        std::memcpy(block + range.offset, other.block + range.offset, range.bytes);
    }
}

void SceneParametersWrapper::LoadDefaults() { std::memset(block, 0, sizeof block); }

void SceneParametersWrapper::Blend(const SceneParametersWrapper&, const SceneParametersWrapper& b, float t) {
    if (t >= 1.0f) CopyFrom(b);
}
