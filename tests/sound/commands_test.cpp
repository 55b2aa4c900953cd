// test-sanitize: thread address
// The front ends: the records they leave in the ring (read back field by field, owner
// sizes at the native pointer size), the ids they hand out, and what they refuse.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "SoundTestSupport.h"
#include "core/config/ConfigEnums.h"

using namespace soundtest;

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
