#pragma once
// ResourceAnimation (type 5): "Animations/<name>.bin": u32 magic 0xA3B9550F, u32
// version 3, an 8-byte header value, then the clip body (AnimationClipData).
#include <cstdint>

#include "render/resources/AnimationClipData.h"
#include "render/resources/Resource.h"
#include "render/resources/ResourcePool.h"

constexpr uint32_t kAnimationFileMagic = 0xA3B9550Fu;
constexpr uint32_t kAnimationFileVersion = 3;

class ResourceAnimation : public Resource {
public:
    explicit ResourceAnimation(const char* name) : Resource(name) {}
    ~ResourceAnimation() override { clip.Clear(); }

    uint32_t GetResourceType() const override { return RESOURCE_ANIMATION; }
    void PreheatResource() override;
    // Fails without a message on a missing file or a wrong magic or version, and with
    // the body reader's one line on a body that does not read (the clip stays empty).
    bool LoadResource() override;

    const AnimationClipData& Clip() const { return clip; }
    const uint8_t* HeaderValue() const { return header; }

private:
    AnimationClipData clip;
    uint8_t header[8] = {};
};

class ResourceAnimationPool : public ResourcePool {
public:
    Resource* CreateResource(const char* name, uint32_t parameter) override { return new ResourceAnimation(name); }
};
