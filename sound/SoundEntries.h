#pragma once
// Sound entries: named, data-driven game sounds. An entry lists alternative sound files
// and how to play them; the container (gSoundEntriesContainer) plays an entry by name,
// picking one file at random, as a system sound ("_2D") or on an entity's sound emitter.
// A name suffix swaps a whole set: entry "X" is looked up as "X" + suffix first.
//
// Threads: the main thread fills and empties the container; the main and the render
// thread (the effects' sound elements) play and preload. Every operation holds the
// container's lock while it reads the entries and releases it before it calls the sound
// engine; what leaves the lock is a copy (the picked name, the entry's parameters).
// OnPreDeserialize and OnLoaded enter and leave the lock, so a
// serialiser holds it over a whole read.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/Sync.h"
#include "core/rtti/RTTIClass.h"
#include "core/text/NameString.h"

class Entity;
class EntitySoundEmitter;

class SoundEntryParams : public RTTIPolyBaseClass {
public:
    SoundEntryParams() = default;
    SoundEntryParams(const SoundEntryParams& other) = default;
    SoundEntryParams& operator=(const SoundEntryParams& other) = default;
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;

    // Script: AddSound, RemoveAllSounds.
    void AddSound(const char* sound);
    void RemoveAllSounds();

    DynarraySafe<NameString> sounds;  // "Sounds"
    float volume = 1.0f;              // "Volume"
    float rangeMin = 100.0f;          // "Range min"; negative: the container's default
    float rangeMax = 100.0f;          // "Range max"; negative: the container's default
    float pitch = 1.0f;               // "Pitch"
    float randomDelay = 5.0f;         // "Random delay" (seconds; for scripts' repeats)
    float randomDelayVar = 5.0f;      // "Random delay var"
    bool twoD = false;                // "_2D" (script: Attenuate): no distance, no entity needed
    bool loop = false;                // "Loop"
    bool important = false;           // "Important"
};

class SoundEntry : public RTTIPolyBaseClass {
public:
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;

    NameString name;          // "Entry name"
    SoundEntryParams params;  // "Params"
};

class SoundEntriesContainer : public RTTIPolyBaseClass {
public:
    static constexpr float kDefaultRangeMin = 50.0f;
    static constexpr float kDefaultRangeMax = 0.0f;
    static constexpr uint32_t kMaxLookupName = 255;   // name + suffix; longer: no suffixed lookup
    static constexpr uint32_t kMaxSoundName = 1024;   // a picked sound's name
    static constexpr uint32_t kMaxPreloadName = 259;  // a preloaded sound's name

    SoundEntriesContainer() = default;
    ~SoundEntriesContainer() override;
    SoundEntriesContainer(const SoundEntriesContainer&) = delete;
    SoundEntriesContainer& operator=(const SoundEntriesContainer&) = delete;
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    void OnPreDeserialize(uint32_t options) override;
    void OnLoaded(uint32_t options) override;

    // False for a null name or a name in use (any letter case; one error line).
    bool AddSoundEntry(const char* name, const SoundEntryParams& params);
    void RemoveAllSoundEntries();
    void SetSoundEntriesNameSuffix(const char* suffix);
    // A copy of the suffix (empty: none).
    NameString GetSoundEntriesNameSuffix();
    void EnableSoundsPlay(bool enable);
    void SetSoundEntriesDefaultRanges(float rangeMin, float rangeMax);
    uint32_t GetSoundEntrySoundsNumber(const char* name);
    // The index-th sound; empty for a missing entry or an index outside [0, count).
    NameString GetSoundEntrySound(const char* name, int32_t index);
    bool IsSoundEntryLooped(const char* name);
    bool GetSoundEntryRandomTimeValues(const char* name, float* delay, float* variation);

    // The new instance id, 0 when nothing started. With an entity the sound plays on its
    // emitter (made when absent). outParams (when given) receives a copy of the entry's
    // parameters taken under the lock, or is left untouched when nothing played.
    uint32_t PlaySoundEntry(const char* name, Entity* entity, uint32_t channel, float startDelay,
                            float volumeScale = 1.0f, SoundEntryParams* outParams = nullptr, uint32_t extraFlags = 0);
    // The effects' form: the emitter (null: none) instead of the entity.
    static uint32_t PlaySoundEntryForEntity(SoundEntriesContainer* container, const char* name,
                                            EntitySoundEmitter* emitter, uint32_t channel, float startDelay,
                                            float volumeScale, SoundEntryParams* outParams);
    // Posts one load-only play per sound of the entry.
    void PreloadSoundEntry(const char* name);
    static void PreloadSoundEntry(SoundEntriesContainer* container, const char* name);

    // Tests.
    uint32_t EntryCount() const { return entries.Count(); }
    bool SoundsEnabled() const { return soundsEnabled; }

private:
    friend struct SoundEntriesAccess;
    // Under the lock: the entry of name (+ suffix first), or null.
    SoundEntry* Find(const char* name) const;
    SoundEntry* FindExact(const char* name) const;
    uint32_t LowerBound(const char* name) const;
    uint32_t Play(const char* name, EntitySoundEmitter* emitter, uint32_t channel, float startDelay,
                  float volumeScale, SoundEntryParams* outParams, uint32_t extraFlags);

    Dynarray<SoundEntry*> entries;  // "Sound entries", sorted by name (ASCII case folded)
    char* nameSuffix = nullptr;
    float defaultRangeMin = kDefaultRangeMin;
    float defaultRangeMax = kDefaultRangeMax;
    mutable CriticalSection lock;
    bool soundsEnabled = false;
};

// Built by the ordered start-up (kSoundStaticInit, module 4).
extern SoundEntriesContainer* gSoundEntriesContainer;
