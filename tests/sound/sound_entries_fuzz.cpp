// Fuzz target: arbitrary bytes read as the sound entries container's property list
// (entry count, presence bytes, names, sound lists, values). A read that succeeds must
// write back a list that reads back to the same bytes; whatever was read, lookups and removal work.
// Seeds are lists the engine's own writer makes (with and without null elements).
#include <cstdint>
#include <vector>

#include "core/BoundedReader.h"
#include "sound/SoundEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const RTTIClass* cls = SoundEntriesContainer::RegisterClass();
    SoundEntriesContainer c;
    BoundedReader in(data, size);
    c.SolidDeserialize(in, 0);
    if (!in.Failed()) {
        std::vector<uint8_t> out(cls->SerializeProperties(nullptr, &c, 0));
        cls->SerializeProperties(out.data(), &c, 0);
        SoundEntriesContainer back;
        BoundedReader again(out.data(), out.size());
        back.SolidDeserialize(again, 0);
        // Bytes, not PropertiesEqual: a NaN read from the input never equals itself.
        std::vector<uint8_t> twice(cls->SerializeProperties(nullptr, &back, 0));
        cls->SerializeProperties(twice.data(), &back, 0);
        if (again.Failed() || twice != out) __builtin_trap();
    }
    c.SetSoundEntriesNameSuffix("_x");
    (void)c.GetSoundEntrySoundsNumber("a");
    (void)c.GetSoundEntrySound("a", 0);
    (void)c.IsSoundEntryLooped("A_X");
    c.RemoveAllSoundEntries();
    return 0;
}

using FuzzAddSeed = void (*)(const uint8_t* data, size_t size);

extern "C" void FuzzSeeds(FuzzAddSeed add) {
    const RTTIClass* cls = SoundEntriesContainer::RegisterClass();
    SoundEntriesContainer c;
    SoundEntryParams p;
    p.AddSound("shot1.wav");
    p.AddSound("shot2.wav");
    p.loop = true;
    c.AddSoundEntry("a", p);
    p.RemoveAllSounds();
    p.twoD = true;
    c.AddSoundEntry("a_x", p);
    std::vector<uint8_t> seed(cls->SerializeProperties(nullptr, &c, 0));
    cls->SerializeProperties(seed.data(), &c, 0);
    add(seed.data(), seed.size());
    // The same with a null element appended.
    seed[0] = uint8_t(seed[0] + 1);
    seed.push_back(0);
    add(seed.data(), seed.size());
}
