#pragma once
// AnimationClipData: the body of an animation resource, embedded in ResourceAnimation.
//
// Body layout (little-endian), following the file's magic, version and 8-byte value:
//   u32 track count T, T tracks (u32 name length, the name's bytes, u16 rotation,
//   translation and scale key counts), u32 key count K, K keys (int16 x, y, z, t), the
//   rotation, translation and scale boxes (each f32 min x, y, z, t, max x, y, z, t),
//   f32 clip length.
// The keys of all tracks lie in one array: per track in track order its rotation keys,
// then its translation keys, then its scale keys, each group sorted by t. Each group is
// quantised against its box: x, y, z against the value range, t against the range of
// normalised clip progress the box covers.
#include <cstdint>
#include <vector>

#include "core/math/BoundingBox4.h"
#include "core/text/NameString.h"

class BoundedReader;
class FileReader;

// Magic, version and the 8-byte value: the body starts at this byte of the file.
constexpr uint32_t kAnimationFileBodyOffset = 16;

enum AnimationChannel : uint32_t {
    ANIMCHANNEL_ROTATION = 0,
    ANIMCHANNEL_TRANSLATION = 1,
    ANIMCHANNEL_SCALE = 2,
    ANIMCHANNEL_COUNT = 3
};

struct AnimationTrack {
    NameString name;
    uint16_t keyCounts[ANIMCHANNEL_COUNT] = {};  // rotation, translation, scale
    uint32_t KeyTotal() const { return uint32_t(keyCounts[0]) + keyCounts[1] + keyCounts[2]; }
};

struct AnimationKey {
    int16_t x, y, z, t;
};
static_assert(sizeof(AnimationKey) == 8);

class AnimationClipData {
public:
    // Empty counts and empty channel boxes.
    AnimationClipData();
    ~AnimationClipData() { Clear(); }
    AnimationClipData(const AnimationClipData&) = delete;
    AnimationClipData& operator=(const AnimationClipData&) = delete;

    // Frees tracks and keys and zeroes the counts and the length.
    void Clear();
    // Reads the body from the reader's position (the file's header already read) to
    // the end of the file. False, with the clip left empty, when the body is truncated,
    // a count or name length exceeds the bytes left, the tracks' key counts do not add
    // up to the key count, or a box or the length is not finite. Bytes after the body
    // are ignored.
    bool Read(FileReader& reader);
    // The same over a body held in memory.
    bool Read(BoundedReader& in);

    uint32_t TrackCount() const { return uint32_t(tracks.size()); }
    uint32_t KeyCount() const { return uint32_t(keys.size()); }
    const AnimationTrack& Track(uint32_t i) const { return tracks[i]; }
    const AnimationTrack* Tracks() const { return tracks.data(); }
    const AnimationKey& Key(uint32_t i) const { return keys[i]; }
    const AnimationKey* Keys() const { return keys.data(); }
    const BoundingBox4& ChannelBox(uint32_t channel) const { return channelBoxes[channel]; }
    float Length() const { return length; }

private:
    std::vector<AnimationTrack> tracks;
    std::vector<AnimationKey> keys;
    BoundingBox4 channelBoxes[ANIMCHANNEL_COUNT];
    float length = 0.0f;
};
