// test-sanitize: thread address
// Sound entries: filling and lookup (letter case, the suffix), the parameter block a
// play builds, the messages of refused plays, preloading, the ruled bounds, the binary
// property list against an independent writer, and plays from two threads while the
// main thread empties the container.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "SoundTestSupport.h"
#include "core/BoundedReader.h"
#include "sound/EntitySoundEmitter.h"
#include "sound/SoundEntries.h"

using namespace soundtest;

namespace {

SoundEntryParams Entry(std::initializer_list<const char*> sounds, bool twoD = true) {
    SoundEntryParams p;
    for (const char* s : sounds) p.AddSound(s);
    p.twoD = twoD;
    return p;
}

std::vector<uint8_t> WriteList(const SoundEntriesContainer& c) {
    std::vector<uint8_t> out(c.GetRTTIClass()->SerializeProperties(nullptr, &c, 0));
    c.GetRTTIClass()->SerializeProperties(out.data(), &c, 0);
    return out;
}

// Reads a property list into `into`; false when the read failed.
bool ReadList(SoundEntriesContainer& into, const std::vector<uint8_t>& bytes) {
    BoundedReader in(bytes.data(), bytes.size());
    into.SolidDeserialize(in, 0);
    return !in.Failed();
}

struct Entries : InlineEngineFixture {
    void SetUp() override {
        InlineEngineFixture::SetUp();
        ASSERT_TRUE(MakeTone(Sound("a.wav"), "-r 22050 -c 1 -b 16", 0.5));
        log.Attach();
    }
    void TearDown() override {
        log.Detach();
        InlineEngineFixture::TearDown();
    }
    // The block of the one instance a play made (after the command pass).
    SoundParamWrapper PlayedBlock() {
        engine->RunWake();
        const SoundInstanceBase* i = SoundInstanceBase::First();
        EXPECT_NE(i, nullptr);
        SoundParamWrapper p = i ? i->Params() : SoundParamWrapper{};
        engine->StopSound(kSoundAllInstances, 0.0f);
        engine->RunWake();
        return p;
    }

    SoundEntriesContainer c;
    CaptureLogSink log;
};

TEST_F(Entries, NamesIgnoreLetterCaseAndTheSuffixedEntryWins) {
    EXPECT_TRUE(c.AddSoundEntry("Shot", Entry({"shot.wav"})));
    EXPECT_TRUE(c.AddSoundEntry("Alarm", Entry({"alarm1.wav", "alarm2.wav"})));
    EXPECT_TRUE(c.AddSoundEntry("shot_night", Entry({"night.wav"})));
    EXPECT_FALSE(c.AddSoundEntry("SHOT", Entry({"other.wav"})));
    EXPECT_TRUE(log.Contains("Attempt to add sound entry with already existing name SHOT !!!"));
    EXPECT_FALSE(c.AddSoundEntry(nullptr, Entry({})));
    EXPECT_EQ(c.EntryCount(), 3u);

    struct Row {
        const char* suffix;
        const char* name;
        uint32_t count;
        const char* first;
    };
    const Row rows[] = {
        {nullptr, "shot", 1, "shot.wav"},     {nullptr, "ALARM", 2, "alarm1.wav"},
        {"_Night", "Shot", 1, "night.wav"},   {"_night", "alarm", 2, "alarm1.wav"},  // no "alarm_night"
        {nullptr, "missing", 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        c.SetSoundEntriesNameSuffix(row.suffix);
        EXPECT_EQ(c.GetSoundEntrySoundsNumber(row.name), row.count);
        EXPECT_STREQ(c.GetSoundEntrySound(row.name, 0).CStr(), row.first);
    }
    EXPECT_STREQ(c.GetSoundEntriesNameSuffix().CStr(), "");

    // Indices outside [0, count) give nothing; a name with a suffix over 255
    // characters skips the suffixed lookup.
    EXPECT_STREQ(c.GetSoundEntrySound("Alarm", -1).CStr(), "");
    EXPECT_STREQ(c.GetSoundEntrySound("Alarm", 2).CStr(), "");
    c.SetSoundEntriesNameSuffix(std::string(300, 'x').c_str());
    EXPECT_STREQ(c.GetSoundEntrySound("Shot", 0).CStr(), "shot.wav");

    float delay = 0.0f, variation = 0.0f;
    EXPECT_TRUE(c.GetSoundEntryRandomTimeValues("shot", &delay, &variation));
    EXPECT_EQ(delay, 5.0f);
    EXPECT_EQ(variation, 5.0f);
    EXPECT_FALSE(c.GetSoundEntryRandomTimeValues("missing", &delay, &variation));
    c.RemoveAllSoundEntries();
    EXPECT_EQ(c.EntryCount(), 0u);
}

TEST_F(Entries, APlayBuildsItsBlockFromTheEntry) {
    StartEngine(22050, 2);
    SoundEntryParams looped = Entry({"a.wav"});
    looped.loop = true;
    looped.important = true;
    looped.volume = 0.5f;
    looped.pitch = 1.5f;
    looped.rangeMin = -1.0f;  // the default 50
    looped.rangeMax = 20.0f;
    ASSERT_TRUE(c.AddSoundEntry("looped", looped));
    ASSERT_TRUE(c.AddSoundEntry("once", Entry({"a.wav"})));

    // Nothing plays before EnableSoundsPlay(true), without a message.
    EXPECT_EQ(c.PlaySoundEntry("looped", nullptr, 0, 0.0f), 0u);
    EXPECT_EQ(SoundEntriesContainer::PlaySoundEntryForEntity(&c, "once", nullptr, 0, 0.0f, 1.0f, nullptr), 0u);
    EXPECT_TRUE(log.Messages().empty());
    c.EnableSoundsPlay(true);

    SoundEntryParams out;
    EXPECT_NE(c.PlaySoundEntry("looped", nullptr, 3, 0.25f, 0.5f, &out, SOUNDSTARTFLAG_MUSIC), 0u);
    EXPECT_EQ(out.volume, 0.5f);
    EXPECT_TRUE(out.loop);
    SoundParamWrapper p = PlayedBlock();
    EXPECT_EQ(p.LoopCount, 0u);
    EXPECT_EQ(p.Volume, 0.25f);
    EXPECT_EQ(p.FrequencyRatio, 1.5f);
    EXPECT_EQ(p.Channel, 3u);
    EXPECT_EQ(p.StartDelay, 0.25f);
    EXPECT_EQ(p.Flags, uint32_t(SOUNDSTARTFLAG_NOATTENUATION | SOUNDSTARTFLAG_IMPORTANT | SOUNDSTARTFLAG_MUSIC));
    EXPECT_NEAR(p.FullVolumeRange, 111.8034f, 1e-3f);  // sqrt(50^2 + 100^2)
    EXPECT_NEAR(p.ZeroVolumeRange, std::sqrt(400.0f + 10000.0f), 1e-3f);
    EXPECT_EQ(p.Class, uint32_t(SOUNDCLASS_SFX));

    EXPECT_NE(c.PlaySoundEntry("once", nullptr, 0, 0.0f), 0u);
    p = PlayedBlock();
    EXPECT_EQ(p.LoopCount, 1u);
    EXPECT_NEAR(p.FullVolumeRange, std::sqrt(20000.0f), 1e-3f);  // range min 100

    // The container's defaults fill both negative ranges.
    c.SetSoundEntriesDefaultRanges(0.0f, 100.0f);
    SoundEntryParams negative = Entry({"a.wav"});
    negative.rangeMin = negative.rangeMax = -5.0f;
    ASSERT_TRUE(c.AddSoundEntry("negative", negative));
    EXPECT_NE(c.PlaySoundEntry("negative", nullptr, 0, 0.0f), 0u);
    p = PlayedBlock();
    EXPECT_EQ(p.FullVolumeRange, 100.0f);
    EXPECT_NEAR(p.ZeroVolumeRange, std::sqrt(20000.0f), 1e-3f);
}

TEST_F(Entries, RefusedPlaysSayWhyAndReturnZero) {
    StartEngine(22050, 2);
    c.EnableSoundsPlay(true);
    ASSERT_TRUE(c.AddSoundEntry("3d", Entry({"a.wav"}, false)));
    ASSERT_TRUE(c.AddSoundEntry("empty", Entry({})));
    ASSERT_TRUE(c.AddSoundEntry("long", Entry({std::string(1025, 'n').c_str()})));
    ASSERT_TRUE(c.AddSoundEntry("longest", Entry({std::string(1024, 'n').c_str()})));
    struct Row {
        const char* name;
        const char* message;  // null: no message
        bool plays;
    };
    const Row rows[] = {
        {"nope", "SoundEntriesContainer: Attempt to play nonexistent sound entry nope !!!", false},
        {"3d", "SoundEntriesContainer: Attempt to play 3d sound entry 3d without entity specified!!!", false},
        {"empty", nullptr, false},
        {"long", "over 1024 characters", false},
        {"longest", nullptr, true},
        {nullptr, nullptr, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name ? row.name : "null");
        log.Clear();
        const uint32_t id = c.PlaySoundEntry(row.name, nullptr, 0, 0.0f);
        EXPECT_EQ(id != 0, row.plays);
        if (row.message) EXPECT_TRUE(log.Contains(row.message));
        else EXPECT_TRUE(log.Messages().empty());
    }
    engine->RunWake();
    engine->StopSound(kSoundAllInstances, 0.0f);
    engine->RunWake();

    // With an emitter the 3-D entry plays on it.
    EntitySoundEmitter* e = new EntitySoundEmitter(Matrix::IDENTITY);
    const uint32_t id = SoundEntriesContainer::PlaySoundEntryForEntity(&c, "3d", e, 0, 0.0f, 1.0f, nullptr);
    EXPECT_NE(id, 0u);
    ASSERT_NE(SoundInstanceBase::First(), nullptr);
    EXPECT_EQ(SoundInstanceBase::First()->Owner(), e);
    EXPECT_EQ(SoundInstanceBase::First()->Id(), id);
    EXPECT_TRUE(SoundInstanceBase::First()->StateFlags() & SOUNDINSTANCE_POSITIONAL);
    e->PostRelease();
}

TEST_F(Entries, APlayThatStartsNothingLeavesTheOutParametersAlone) {
    c.EnableSoundsPlay(true);
    SoundEntryParams entry = Entry({"a.wav"});
    entry.volume = 0.5f;
    ASSERT_TRUE(c.AddSoundEntry("x", entry));
    SoundEntryParams out;
    out.volume = 7.0f;
    // The sound thread is down: nothing plays.
    engine->SetRunWithoutThread(false);
    EXPECT_EQ(c.PlaySoundEntry("x", nullptr, 0, 0.0f, 1.0f, &out), 0u);
    EXPECT_EQ(out.volume, 7.0f);
    engine->SetRunWithoutThread(true);
}

TEST_F(Entries, PreloadingPostsOneLoadOnlyPlayPerSound) {
    StartEngine(22050, 2);
    ASSERT_TRUE(c.AddSoundEntry("three", Entry({"a.wav", "b.wav", std::string(260, 'p').c_str(), "c.wav"})));
    SoundEntriesContainer::PreloadSoundEntry(&c, "three");
    EXPECT_TRUE(log.Contains("over 259 characters"));
    engine->RunWake();
    std::vector<std::string> names;
    for (const SoundInstanceBase* i = SoundInstanceBase::First(); i; i = i->Next()) {
        EXPECT_TRUE(i->Params().Flags & SOUNDSTARTFLAG_JUSTLOAD);
        names.push_back(i->GetName());
    }
    EXPECT_EQ(names.size(), 3u);
    ASSERT_TRUE(RunUntilSilent());
    EXPECT_TRUE(captured.empty());  // nothing was heard
}

TEST_F(Entries, ThePropertyListReadsBackEqualFromEitherWriter) {
    SoundEntryParams a = Entry({"x.wav", "y.wav"});
    a.volume = 0.75f;
    a.rangeMin = -1.0f;
    a.loop = true;
    ASSERT_TRUE(c.AddSoundEntry("Beta", a));
    ASSERT_TRUE(c.AddSoundEntry("alpha", Entry({}, false)));
    const RTTIClass* cls = c.GetRTTIClass();
    // The same container, with a null element at the end, written by hand from the
    // format: u32 count, per element a presence byte and the element's list.
    const std::string script = root + "/write.py";
    std::ofstream(script) << R"(import struct, sys
def name(s): return b"\x00" if not s else b"\x01" + s.encode() + b"\x00"
def params(sounds, vol, rmin, rmax, pitch, delay, var, two_d, loop, imp):
    out = struct.pack("<I", len(sounds)) + b"".join(name(s) for s in sounds)
    out += struct.pack("<6f", vol, rmin, rmax, pitch, delay, var)
    return out + bytes([two_d, loop, imp])
entries = [name("alpha") + params([], 1.0, 100.0, 100.0, 1.0, 5.0, 5.0, 0, 0, 0),
           name("Beta") + params(["x.wav", "y.wav"], 0.75, -1.0, 100.0, 1.0, 5.0, 5.0, 1, 1, 0)]
mode = sys.argv[2]  # 0 as written, 1 a null element last, 2 reversed behind a null element
present = [b"\x01" + e for e in (reversed(entries) if mode == "2" else entries)]
body = b"".join(present) + b"\x00" if mode == "1" else (b"\x00" + b"".join(present) if mode == "2" else b"".join(present))
open(sys.argv[1], "wb").write(struct.pack("<I", len(entries) + (mode != "0")) + body)
)";
    for (const char* mode : {"0", "1", "2"})
        ASSERT_TRUE(Shell("python3 '" + script + "' '" + root + "/" + mode + ".bin' " + mode));
    const std::vector<uint8_t> theirs = ReadBytes(root + "/0.bin");
    EXPECT_EQ(theirs, WriteList(c));
    SoundEntriesContainer back;
    EXPECT_TRUE(ReadList(back, theirs));
    EXPECT_TRUE(cls->PropertiesEqual(&c, &back));
    EXPECT_TRUE(cls->PropertiesEqual(&back, &c));
    EXPECT_EQ(back.GetSoundEntrySoundsNumber("BETA"), 2u);

    // A null element reads as null and writes back the same bytes.
    const std::vector<uint8_t> withNull = ReadBytes(root + "/1.bin");
    SoundEntriesContainer nulls;
    EXPECT_TRUE(ReadList(nulls, withNull));
    EXPECT_FALSE(cls->PropertiesEqual(&nulls, &c));
    EXPECT_EQ(WriteList(nulls), withNull);
    EXPECT_EQ(nulls.GetSoundEntrySoundsNumber("missing"), 0u);  // the lookup passes the null
    EXPECT_EQ(nulls.GetSoundEntrySoundsNumber("beta"), 2u);

    // A list out of order is sorted as it is read: lookups find every entry, and it
    // writes back sorted with the null element last.
    SoundEntriesContainer sorted;
    EXPECT_TRUE(ReadList(sorted, ReadBytes(root + "/2.bin")));
    EXPECT_EQ(WriteList(sorted), withNull);
    EXPECT_EQ(sorted.GetSoundEntrySoundsNumber("beta"), 2u);
    EXPECT_FALSE(sorted.IsSoundEntryLooped("alpha"));
    EXPECT_TRUE(sorted.AddSoundEntry("gamma", Entry({"g.wav"})));
    EXPECT_FALSE(sorted.AddSoundEntry("ALPHA", Entry({})));
}

TEST_F(Entries, TwoThreadsPlayWhileTheMainThreadEmptiesTheContainer) {
    // The real sound thread on the null output.
    engine->SetRunWithoutThread(false);
    ASSERT_TRUE(engine->Start());
    c.EnableSoundsPlay(true);
    EntitySoundEmitter* e = new EntitySoundEmitter(Matrix::IDENTITY);
    std::atomic<bool> stop{false};
    std::atomic<int> plays{0};
    auto player = [&](bool withEmitter) {
        while (!stop.load()) {
            SoundEntryParams out;
            const uint32_t id = withEmitter
                                    ? SoundEntriesContainer::PlaySoundEntryForEntity(&c, "e", e, 0, 0.0f, 1.0f, &out)
                                    : c.PlaySoundEntry("e", nullptr, 0, 0.0f, 1.0f, &out);
            if (id) {
                ++plays;
                EXPECT_EQ(out.sounds.Count(), 1u);
                engine->StopSound(id, 0.0f);
            }
        }
    };
    std::thread main2(player, false), render(player, true);
    for (int i = 0; i < 300; ++i) {
        c.AddSoundEntry("e", Entry({"a.wav"}));
        std::this_thread::yield();
        c.RemoveAllSoundEntries();
    }
    c.AddSoundEntry("e", Entry({"a.wav"}));
    EXPECT_TRUE(WaitUntil([&] { return plays.load() > 10; }));
    stop = true;
    main2.join();
    render.join();
    e->PostRelease();
    engine->Stop();
    EXPECT_EQ(SoundInstanceBase::First(), nullptr);
}

}  // namespace
