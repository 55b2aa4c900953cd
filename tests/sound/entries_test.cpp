// test-sanitize: thread address
// Sound entries: filling and lookup (letter case, the suffix), the parameter block a
// play builds, the messages of refused plays, preloading, the ruled bounds, the binary
// property list against an independent writer, and plays from two threads while the
// main thread empties the container.
//
// The front ends: the records they leave in the ring (read back field by field, owner
// sizes at the native pointer size), the ids they hand out, and what they refuse.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "SoundTestSupport.h"
#include "core/BoundedReader.h"
#include "core/config/ConfigEnums.h"
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
        ASSERT_TRUE(Shell("/usr/bin/python3 '" + script + "' '" + root + "/" + mode + ".bin' " + mode));
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

namespace {

struct Record {
    uint32_t id;
    std::vector<uint8_t> payload;
};

struct CommandsTest : testing::Test {
    void SetUp() override { engine->SetRunWithoutThread(true); }
    // Takes every record out of the ring.
    std::vector<Record> Drain() {
        std::vector<Record> out;
        CommandRingBuffer& r = engine->Ring();
        while (r.BeginRead()) {
            Record rec{r.RecordId(), std::vector<uint8_t>(r.RecordSize())};
            r.Read(rec.payload.data(), r.RecordSize());
            if (rec.id != BaseThread::CMD_NOP) out.push_back(rec);
            r.EndRead();
        }
        return out;
    }
    template <class T>
    static T At(const Record& r, size_t offset) {
        T v{};
        if (offset + sizeof v <= r.payload.size()) std::memcpy(&v, r.payload.data() + offset, sizeof v);
        return v;
    }

    OwnSoundEngine own;
    SoundEngine* engine = own.engine;
};

}  // namespace

TEST_F(CommandsTest, RecordsCarryTheirFieldsInOrder) {
    const auto* owner = reinterpret_cast<const EntitySoundEmitter*>(uintptr_t(0x1234567890ull));
    const size_t p = sizeof(void*);
    Matrix listener = Matrix::IDENTITY;
    listener.r[3] = Vector(1.0f, 2.0f, 3.0f, 1.0f);
    engine->SetListener(listener);
    engine->SetChannelVolume(3, 0.5f, 2.0f, 1);
    engine->FadeMasterVolume(0.25f, 1.0f, 2);
    engine->SetChannelFrequencyRatio(kSoundAllChannels, 1.5f, 0.5f, 3);
    engine->StopSound(7, 0.5f, owner);
    engine->ExitLoop(8, owner);
    engine->PauseSound(9, 0.1f, owner, -1);
    engine->ResumeSound(10, 0.2f, owner, 4);
    engine->SetVolume(11, 0.75f, 1.5f, 1, owner);
    engine->SetFrequencyRatio(12, 0.5f, 2.5f, 2, owner);
    engine->SetLoopFile(13, "loop.ogg");
    engine->SetLoopFile(14, nullptr);
    engine->LogActiveSoundInstances();

    const std::vector<Record> r = Drain();
    struct Expected {
        uint32_t id;
        size_t bytes;
    };
    const Expected expected[] = {{10, 64},     {12, 16},     {13, 12},     {14, 16},      {16, 8 + p}, {17, 4 + p},
                                 {18, 12 + p}, {19, 12 + p}, {20, 16 + p}, {21, 16 + p}, {22, 17},    {22, 8},
                                 {23, 0}};
    ASSERT_EQ(r.size(), std::size(expected));
    for (size_t i = 0; i < r.size(); ++i) {
        EXPECT_EQ(r[i].id, expected[i].id) << i;
        EXPECT_EQ(r[i].payload.size(), expected[i].bytes) << "record " << r[i].id;
    }
    EXPECT_EQ(At<float>(r[0], 48), 1.0f);
    EXPECT_EQ(At<float>(r[0], 56), 3.0f);
    EXPECT_EQ(At<uint32_t>(r[1], 0), 3u);
    EXPECT_EQ(At<float>(r[1], 4), 0.5f);
    EXPECT_EQ(At<float>(r[1], 8), 2.0f);
    EXPECT_EQ(At<uint32_t>(r[1], 12), 1u);
    EXPECT_EQ(At<float>(r[2], 0), 0.25f);
    EXPECT_EQ(At<uint32_t>(r[2], 8), 2u);
    EXPECT_EQ(At<uint32_t>(r[3], 0), kSoundAllChannels);
    EXPECT_EQ(At<uint32_t>(r[4], 0), 7u);
    EXPECT_EQ(At<const void*>(r[4], 4), owner);
    EXPECT_EQ(At<float>(r[4], 4 + p), 0.5f);
    EXPECT_EQ(At<int32_t>(r[6], 8 + p), -1);
    EXPECT_EQ(At<int32_t>(r[7], 8 + p), 4);
    EXPECT_EQ(At<float>(r[8], 4 + p), 0.75f);
    EXPECT_EQ(At<float>(r[8], 8 + p), 1.5f);
    EXPECT_EQ(At<uint32_t>(r[8], 12 + p), 1u);
    EXPECT_EQ(At<uint32_t>(r[10], 0), 13u);
    EXPECT_EQ(At<uint32_t>(r[10], 4), 9u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r[10].payload.data() + 8)), "loop.ogg");
    EXPECT_EQ(At<uint32_t>(r[11], 4), 0u);
}

TEST_F(CommandsTest, PlaysPostTheirBlockAndNameAndCountIdsUp) {
    SoundParamWrapper params = Params(0, 0);
    params.Channel = 5;
    EXPECT_EQ(engine->PlaySystemSound(nullptr, &params), 0u);
    const uint32_t first = engine->PlaySystemSound("boom.wav;bang.wav", &params);
    const uint32_t second = engine->PlaySystemSound("x", nullptr);
    EXPECT_EQ(first, 1u);
    EXPECT_EQ(second, first + 1);
    const std::vector<Record> r = Drain();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].id, uint32_t(SOUND_CMD_PLAY));
    EXPECT_EQ(r[0].payload.size(), 17u + 57u);  // n + 57
    EXPECT_EQ(At<uint32_t>(r[0], 0), first);
    SoundParamWrapper posted;
    std::memcpy(&posted, r[0].payload.data() + 4, sizeof posted);
    EXPECT_EQ(std::memcmp(&posted, &params, sizeof params), 0);
    EXPECT_EQ(At<uint32_t>(r[0], 52), 17u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r[0].payload.data() + 56)), "boom.wav;bang.wav");
    std::memcpy(&posted, r[1].payload.data() + 4, sizeof posted);
    EXPECT_EQ(posted.LoopCount, 1u);  // the defaults
    EXPECT_EQ(posted.FullVolumeRange, 3.0f);
    EXPECT_EQ(posted.StreamingBufferSize, 0x10000u);
}

TEST_F(CommandsTest, RefusalsLogOnceAndPostNothing) {
    CaptureLogSink log;
    log.Attach();
    engine->SetChannelVolume(16, 0.0f, 1.0f, 0);
    engine->SetChannelFrequencyRatio(40, 1.0f, 1.0f, 0);
    const std::string huge(0x10000, 'a');
    EXPECT_EQ(engine->PlaySystemSound(huge.c_str(), nullptr), 0u);
    EXPECT_FALSE(engine->SetLoopFile(1, huge.c_str()));
    SoundParamWrapper params = Params();
    EXPECT_EQ(engine->PlayLocalizedVoice(std::string(300, 'v').c_str(), &params), 0u);
    EXPECT_TRUE(Drain().empty());
    // No id was used by the refused plays.
    EXPECT_EQ(engine->PlaySystemSound("ok", nullptr), 1u);
    EXPECT_TRUE(log.Contains("SetChannelVolume - channel 16 out of range"));
    EXPECT_TRUE(log.Contains("SetChannelFrequencyRatio - channel 40 out of range"));
    EXPECT_EQ(log.Messages().size(), 5u);
}

TEST_F(CommandsTest, LocalizedVoicesTakeTheVoiceLanguage) {
    ASSERT_NE(gGameConfig, nullptr);
    const uint32_t savedLanguage = gGameConfig->voiceLanguage;
    struct Case {
        uint32_t language;
        const char* path;
    };
    const Case cases[] = {{0, "Voices/Polish/hello.ogg"}, {1, "Voices/English/hello.ogg"}, {10, "Voices/Korean/hello.ogg"},
                          {11, "Voices/Default/hello.ogg"}, {12, "Voices/Default/hello.ogg"}, {99, "Voices/Default/hello.ogg"}};
    for (const Case& c : cases) {
        gGameConfig->voiceLanguage = c.language;
        SoundParamWrapper params = Params(SOUNDSTARTFLAG_MUSIC);
        params.Class = SOUNDCLASS_MUSIC;
        EXPECT_NE(engine->PlayLocalizedVoice("hello", &params), 0u);
        EXPECT_EQ(params.Flags, SOUNDSTARTFLAG_STREAMED | SOUNDSTARTFLAG_ABSOULUTEPATH);  // written into the caller's block
        EXPECT_EQ(params.Class, uint32_t(SOUNDCLASS_VOICE));
        const std::vector<Record> r = Drain();
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(r[0].payload.data() + 56)), c.path) << c.language;
    }
    EXPECT_EQ(engine->PlayLocalizedVoice(nullptr, nullptr), 0u);
    gGameConfig->voiceLanguage = savedLanguage;
}

TEST_F(CommandsTest, TwoThreadsPlayingAtOnceGetDistinctIds) {
    // The ring holds far fewer records than the two threads post: the thread drains it.
    engine->SetRunWithoutThread(false);
    ASSERT_TRUE(engine->Start());
    std::vector<uint32_t> a, b;
    std::thread other([&] {
        for (int i = 0; i < 2000; ++i) b.push_back(engine->PlaySystemSound("", nullptr));
    });
    for (int i = 0; i < 2000; ++i) a.push_back(engine->PlaySystemSound("", nullptr));
    other.join();
    engine->Stop();
    std::set<uint32_t> all(a.begin(), a.end());
    all.insert(b.begin(), b.end());
    EXPECT_EQ(all.size(), 4000u);
    EXPECT_EQ(all.count(0), 0u);
}
