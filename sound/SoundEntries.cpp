// Sound entries: the container, its lookup and its plays (see sound/SoundEntries.h).
//
// Playing an entry, under the lock: find it (name + suffix first), check it may play,
// pick a sound with CrtRand, build the parameter block from the entry and copy the
// picked name; then, with the lock released, start it as a system sound or on the
// emitter. Preloading copies the entry's names under the lock and posts one load-only
// play per name after it.
#include "sound/SoundEntries.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/CrtRand.h"
#include "core/Log.h"
#include "core/Memory.h"
#include "core/rtti/DirectProperty.h"
#include "core/rtti/RTTIArrayProperty.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/entity/Entity.h"
#include "sound/EntitySoundEmitter.h"
#include "sound/SoundEngine.h"

SoundEntriesContainer* gSoundEntriesContainer = nullptr;

namespace {
RTTIClass* gParamsClass = nullptr;
RTTIClass* gEntryClass = nullptr;
RTTIClass* gContainerClass = nullptr;

constexpr float kRangeHeight = 100.0f;  // every range is measured from this far above

float Range(float entryRange, float defaultRange) {
    const float r = entryRange < 0.0f ? defaultRange : entryRange;
    return std::sqrt(r * r + kRangeHeight * kRangeHeight);
}

bool PlaysNow() { return gSoundEngine && gSoundEngine->AcceptsPlays(); }
}  // namespace

// ---------------------------------------------------------------------------------------
// Classes

const RTTIClass* SoundEntryParams::RegisterClass() {
    if (gParamsClass) return gParamsClass;
    RTTIClass* c = CreateRegisteredClass(gParamsClass, "SoundEntryParams", kRTTIRootBaseName,
                                         [](int32_t) -> RTTIPolyBaseClass* { return new SoundEntryParams(); });
    using P = SoundEntryParams;
    c->AddProperty(new RTTIDynarrayProperty<DynarraySafe<NameString>>("Sounds", RTTI_OFFSETOF(P, sounds)));
    AddDirect<float>(c, "Volume", RTTI_OFFSETOF(P, volume));
    AddDirect<float>(c, "Range min", RTTI_OFFSETOF(P, rangeMin));
    AddDirect<float>(c, "Range max", RTTI_OFFSETOF(P, rangeMax));
    AddDirect<float>(c, "Pitch", RTTI_OFFSETOF(P, pitch));
    AddDirect<float>(c, "Random delay", RTTI_OFFSETOF(P, randomDelay));
    AddDirect<float>(c, "Random delay var", RTTI_OFFSETOF(P, randomDelayVar));
    AddDirect<bool>(c, "_2D", RTTI_OFFSETOF(P, twoD));
    AddDirect<bool>(c, "Loop", RTTI_OFFSETOF(P, loop));
    AddDirect<bool>(c, "Important", RTTI_OFFSETOF(P, important));
    return c;
}

const RTTIClass* SoundEntryParams::GetRTTIClass() const { return RegisterClass(); }

void SoundEntryParams::AddSound(const char* sound) {
    if (sound) sounds.Add(NameString(sound));
}

void SoundEntryParams::RemoveAllSounds() { sounds.Release(); }

const RTTIClass* SoundEntry::RegisterClass() {
    if (gEntryClass) return gEntryClass;
    SoundEntryParams::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gEntryClass, "SoundEntry", kRTTIRootBaseName,
                                         [](int32_t) -> RTTIPolyBaseClass* { return new SoundEntry(); });
    AddDirect<NameString>(c, "Entry name", RTTI_OFFSETOF(SoundEntry, name));
    c->AddProperty(new RTTIEmbeddedObjectProperty<SoundEntryParams>("Params", RTTI_OFFSETOF(SoundEntry, params)));
    return c;
}

const RTTIClass* SoundEntry::GetRTTIClass() const { return RegisterClass(); }

const RTTIClass* SoundEntriesContainer::RegisterClass() {
    if (gContainerClass) return gContainerClass;
    SoundEntry::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gContainerClass, "SoundEntriesContainer", kRTTIRootBaseName,
                                         [](int32_t) -> RTTIPolyBaseClass* { return new SoundEntriesContainer(); });
    c->AddProperty(new RTTIDynarrayOfEmbeddedObjectPointersProperty<Dynarray<SoundEntry*>>(
        "Sound entries", RTTI_OFFSETOF(SoundEntriesContainer, entries)));
    return c;
}

const RTTIClass* SoundEntriesContainer::GetRTTIClass() const { return RegisterClass(); }

SoundEntriesContainer::~SoundEntriesContainer() {
    RemoveAllSoundEntries();
    EngineFree(nameSuffix);
}

void SoundEntriesContainer::OnPreDeserialize(uint32_t) { lock.Enter(); }

void SoundEntriesContainer::OnLoaded(uint32_t) {
    // A list read from a file may be in any order: sorted again (null elements last), so
    // that every lookup stays a binary search.
    std::stable_sort(entries.begin(), entries.end(), [](const SoundEntry* a, const SoundEntry* b) {
        if (!a || !b) return a && !b;
        return RTTIStricmp(a->name.CStr(), b->name.CStr()) < 0;
    });
    lock.Leave();
}

// ---------------------------------------------------------------------------------------
// Lookup (under the lock)

uint32_t SoundEntriesContainer::LowerBound(const char* name) const {
    // Null elements sort last.
    const auto at = std::lower_bound(entries.begin(), entries.end(), name, [](const SoundEntry* e, const char* key) {
        return e && RTTIStricmp(e->name.CStr(), key) < 0;
    });
    return static_cast<uint32_t>(at - entries.begin());
}

SoundEntry* SoundEntriesContainer::FindExact(const char* name) const {
    const uint32_t at = LowerBound(name);
    if (at < entries.Count() && entries[at] && RTTIStricmp(entries[at]->name.CStr(), name) == 0) return entries[at];
    return nullptr;
}

SoundEntry* SoundEntriesContainer::Find(const char* name) const {
    if (!name) return nullptr;
    if (nameSuffix) {
        const size_t n = std::strlen(name), s = std::strlen(nameSuffix);
        if (n + s <= kMaxLookupName) {
            char suffixed[kMaxLookupName + 1];
            std::memcpy(suffixed, name, n);
            std::memcpy(suffixed + n, nameSuffix, s + 1);
            if (SoundEntry* e = FindExact(suffixed)) return e;
        }
    }
    return FindExact(name);
}

// ---------------------------------------------------------------------------------------
// Filling

bool SoundEntriesContainer::AddSoundEntry(const char* name, const SoundEntryParams& params) {
    if (!name) return false;
    CriticalSectionGuard guard(&lock);
    if (FindExact(name)) {
        gLog.Print(LogSeverity::Error, LogCategory::Sound, "Attempt to add sound entry with already existing name %s !!!",
                   name);
        return false;
    }
    auto* entry = new SoundEntry();
    entry->name = NameString(name);
    entry->params = params;
    // After equal names: the first entry not ordered before or equal to name.
    uint32_t at = LowerBound(name);
    while (at < entries.Count() && entries[at] && RTTIStricmp(entries[at]->name.CStr(), name) == 0) ++at;
    if (!entries.Insert(entry, at)) {
        delete entry;
        return false;
    }
    return true;
}

void SoundEntriesContainer::RemoveAllSoundEntries() {
    CriticalSectionGuard guard(&lock);
    for (SoundEntry* e : entries) delete e;
    entries.Release();
}

void SoundEntriesContainer::SetSoundEntriesNameSuffix(const char* suffix) {
    CriticalSectionGuard guard(&lock);
    EngineFree(nameSuffix);
    nameSuffix = nullptr;
    if (!suffix) return;
    const size_t n = std::strlen(suffix) + 1;
    nameSuffix = static_cast<char*>(EngineAlloc(n));
    if (nameSuffix) std::memcpy(nameSuffix, suffix, n);
}

NameString SoundEntriesContainer::GetSoundEntriesNameSuffix() {
    CriticalSectionGuard guard(&lock);
    return nameSuffix ? NameString(nameSuffix) : NameString();
}

void SoundEntriesContainer::EnableSoundsPlay(bool enable) {
    CriticalSectionGuard guard(&lock);
    soundsEnabled = enable;
}

void SoundEntriesContainer::SetSoundEntriesDefaultRanges(float rangeMin, float rangeMax) {
    CriticalSectionGuard guard(&lock);
    defaultRangeMin = rangeMin;
    defaultRangeMax = rangeMax;
}

uint32_t SoundEntriesContainer::GetSoundEntrySoundsNumber(const char* name) {
    CriticalSectionGuard guard(&lock);
    const SoundEntry* e = Find(name);
    return e ? e->params.sounds.Count() : 0;
}

NameString SoundEntriesContainer::GetSoundEntrySound(const char* name, int32_t index) {
    CriticalSectionGuard guard(&lock);
    const SoundEntry* e = Find(name);
    if (!e || index < 0 || uint32_t(index) >= e->params.sounds.Count()) return NameString();
    return e->params.sounds[uint32_t(index)];
}

bool SoundEntriesContainer::IsSoundEntryLooped(const char* name) {
    CriticalSectionGuard guard(&lock);
    const SoundEntry* e = Find(name);
    return e && e->params.loop;
}

bool SoundEntriesContainer::GetSoundEntryRandomTimeValues(const char* name, float* delay, float* variation) {
    CriticalSectionGuard guard(&lock);
    const SoundEntry* e = Find(name);
    if (!e) return false;
    if (delay) *delay = e->params.randomDelay;
    if (variation) *variation = e->params.randomDelayVar;
    return true;
}

// ---------------------------------------------------------------------------------------
// Playing

uint32_t SoundEntriesContainer::Play(const char* name, EntitySoundEmitter* emitter, uint32_t channel, float startDelay,
                                     float volumeScale, SoundEntryParams* outParams, uint32_t extraFlags) {
    if (!name) return 0;
    SoundParamWrapper block;
    char picked[kMaxSoundName + 1];
    {
        CriticalSectionGuard guard(&lock);
        if (!soundsEnabled) return 0;
        const SoundEntry* e = Find(name);
        if (!e) {
            gLog.Print(LogSeverity::Error, LogCategory::Sound,
                       "SoundEntriesContainer: Attempt to play nonexistent sound entry %s !!!", name);
            return 0;
        }
        const SoundEntryParams& p = e->params;
        if (!p.twoD && !emitter) {
            gLog.Print(LogSeverity::Error, LogCategory::Sound,
                       "SoundEntriesContainer: Attempt to play 3d sound entry %s without entity specified!!!", name);
            return 0;
        }
        const uint32_t count = p.sounds.Count();
        if (count == 0) return 0;
        const NameString& sound = p.sounds[uint32_t(CrtRand()) % count];
        const size_t length = std::strlen(sound.CStr());
        if (length > kMaxSoundName) {
            gLog.Print(LogSeverity::Error, LogCategory::Sound,
                       "SoundEntriesContainer: sound name of entry %s over %u characters", name, kMaxSoundName);
            return 0;
        }
        std::memcpy(picked, sound.CStr(), length + 1);
        // Nothing starts while the sound thread is down: the caller's copy stays as it was.
        if (!PlaysNow()) return 0;
        if (outParams) *outParams = p;
        block.LoadDefaults();
        block.Volume = p.volume * volumeScale;
        block.FrequencyRatio = p.pitch;
        block.Channel = channel;
        block.StartDelay = startDelay;
        block.LoopCount = p.loop ? 0 : 1;
        if (p.twoD) block.Flags |= SOUNDSTARTFLAG_NOATTENUATION;
        if (p.important) block.Flags |= SOUNDSTARTFLAG_IMPORTANT;
        block.Flags |= extraFlags;
        block.FullVolumeRange = Range(p.rangeMin, defaultRangeMin);
        block.ZeroVolumeRange = Range(p.rangeMax, defaultRangeMax);
    }
    if (!PlaysNow()) return 0;  // stopped since
    if (!emitter) return gSoundEngine->PlaySystemSound(picked, &block);
    return emitter->StartSound(picked, &block);
}

uint32_t SoundEntriesContainer::PlaySoundEntry(const char* name, Entity* entity, uint32_t channel, float startDelay,
                                               float volumeScale, SoundEntryParams* outParams, uint32_t extraFlags) {
    EntitySoundEmitter* emitter = entity ? entity->GetSoundEmitter() : nullptr;
    return Play(name, emitter, channel, startDelay, volumeScale, outParams, extraFlags);
}

uint32_t SoundEntriesContainer::PlaySoundEntryForEntity(SoundEntriesContainer* container, const char* name,
                                                        EntitySoundEmitter* emitter, uint32_t channel, float startDelay,
                                                        float volumeScale, SoundEntryParams* outParams) {
    if (!container) return 0;
    return container->Play(name, emitter, channel, startDelay, volumeScale, outParams, 0);
}

void SoundEntriesContainer::PreloadSoundEntry(const char* name) {
    DynarraySafe<NameString> names;
    {
        CriticalSectionGuard guard(&lock);
        const SoundEntry* e = Find(name);
        if (!e) return;
        for (const NameString& s : e->params.sounds) {
            if (std::strlen(s.CStr()) > kMaxPreloadName) {
                gLog.Print(LogSeverity::Error, LogCategory::Sound,
                           "SoundEntriesContainer: sound name of entry %s over %u characters not preloaded", name,
                           kMaxPreloadName);
                continue;
            }
            names.Add(s);
        }
    }
    if (!PlaysNow()) return;
    SoundParamWrapper block;
    block.LoadDefaults();
    block.Flags |= SOUNDSTARTFLAG_JUSTLOAD;
    for (const NameString& s : names) gSoundEngine->PlaySystemSound(s.CStr(), &block);
}

void SoundEntriesContainer::PreloadSoundEntry(SoundEntriesContainer* container, const char* name) {
    if (container) container->PreloadSoundEntry(name);
}
