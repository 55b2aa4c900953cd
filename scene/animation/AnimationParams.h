#pragma once
// AnimationParams: the start parameters of every animation (nine 32-bit words, copied
// into the animation when it is created), and the ANIMFLAG_* bits.
#include <cstdint>

class AnimationSoundSyncObject;

enum : uint32_t {
    ANIMFLAG_LOOP = 1,
    ANIMFLAG_AUTOFINISH = 2,
    ANIMFLAG_KEEPOTHERS = 4,
    ANIMFLAG_IGNORESAME = 8,
    // Bits 4 to 7 pick the clock; a combination other than these five uses the game clock.
    ANIMFLAG_GAMETIME = 0,
    ANIMFLAG_GAMEPLAYTIME = 16,
    ANIMFLAG_SYSTEMTIME = 32,
    ANIMFLAG_SMOOTHGAMEPLAYTIME = 64,
    ANIMFLAG_SMOOTHGAMETIME = 128,
    ANIMFLAG_PROCCALLBACKS = 256,
};
constexpr uint32_t kAnimFlagClockMask = 0xF0;
// Loops like ANIMFLAG_LOOP (an older loop bit still honoured).
constexpr uint32_t kAnimFlagLoopAlso = 0x200;

struct AnimationParams {
    uint32_t Flags = 0;
    int32_t Id = -1;         // -1: the animation index
    int32_t AnimIndex = -1;  // set by the start call
    float AttackTime = 0.2f;
    float AutoFinishTime = 0.2f;
    float SpeedMultiplier = 1.0f;
    float OverrideProgress = -1.0f;  // >= 0 pins the progress (0..1)
    float StartTimeOffset = 0.0f;    // seconds
    AnimationSoundSyncObject* SyncObject = nullptr;

    void LoadDefaults() { *this = AnimationParams(); }
    // A new block with the defaults, owned by the caller (the scripts' constructor).
    static AnimationParams* Instance() { return new AnimationParams(); }
    bool Loops() const { return (Flags & (ANIMFLAG_LOOP | kAnimFlagLoopAlso)) != 0; }
};
