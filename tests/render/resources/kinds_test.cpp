// Textures, sounds and fonts from files made by real tools and the fixture script.
//
// Animation files through ResourceAnimation: clips written by tests/support/anim_file.py
// load with their tracks, keys, boxes and length; a wrong header, every truncation and
// every altered count or length leaves the resource unloaded with an empty clip.
// test-sanitize: thread address
// test-timeout: 240
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "ResourceTestSupport.h"
#include "ShellCommand.h"
#include "core/Memory.h"
#include "core/fs/FileSystem.h"
#include "render/DeviceObjectHandle.h"
#include "render/frame/RendererProfilerDrawer.h"
#include "render/resources/ResourceAnimation.h"
#include "render/resources/ResourceFont.h"
#include "render/resources/ResourceTexture.h"
#include "render/sound/ResourceSound.h"
#include "render/sound/SoundMemoryPool.h"

using namespace resourcetest;

namespace {

std::string Fixture(const std::string& arguments) {
    return "python3 " PROJECT_SOURCE_ROOT "/tests/render/resources/resource_fixtures.py " + arguments;
}

// ffprobe's "entry,entry" of the first stream.
std::string Probe(const std::string& path, const std::string& entries) {
    return rendertest::ShellOutput("ffprobe -v error -select_streams 0 -show_entries stream=" + entries +
                                   " -of csv=p=0 '" + path + "'");
}

struct KindsTest : ResourceFixture {
    void Make(const std::string& command) {
        ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
    }
    // Loads through the manager; the pools keep it until TearDown's Stop.
    template <class T>
    T* Load(uint32_t type, const char* name, uint32_t flags = 0) {
        log.Clear();
        Resource* r = Get(type, name, flags);
        r->Load(true);
        EXPECT_TRUE(r->IsLoaded()) << name;
        return static_cast<T*>(r);
    }
};

TEST_F(KindsTest, TexturesFromDdsFiles) {
    const std::string gradient = "convert -size 16x8 gradient:red-blue ";
    const std::string alpha = gradient + "-alpha set -channel A -fx i/w +channel ";
    const std::pair<std::string, std::string> files[] = {
        {gradient + "-define dds:compression=none -define dds:mipmaps=0", "textures/plain.dds"},
        {alpha + "-define dds:compression=none -define dds:mipmaps=0", "textures/alpha.dds"},
        {gradient + "-define dds:compression=dxt1 -define dds:mipmaps=0", "textures/x.dds"},
        {alpha + "-define dds:compression=dxt5 -define dds:mipmaps=0", "textures/dxt5.dds"},
        {gradient + "-define dds:compression=none -define dds:mipmaps=3", "textures/v1.2/mips.dds"},
        {gradient + "-define dds:compression=none -define dds:mipmaps=0", "scenes/lit.dds"},
        {gradient + "-define dds:compression=none -define dds:mipmaps=0", "scenes/shown.dds"},
        {gradient + "-define dds:compression=none -define dds:mipmaps=0", "textures/only.dds"},
    };
    for (const auto& [command, file] : files) {
        std::filesystem::create_directories(std::filesystem::path(root + "/" + file).parent_path());
        Make(command + " '" + root + "/" + file + "'");
        EXPECT_EQ(Probe(root + "/" + file, "codec_name"), "dds") << file;
    }
    Make(Fixture("cube '" + Path("textures", "sky.dds") + "'"));
    Make(Fixture("volume '" + Path("textures", "fog.dds") + "'"));
    // format FMT_UNKNOWN: a cube map; levels 0: no texture, with this error.
    struct Case { const char* name; uint32_t flags; gfx::Format format; uint32_t levels; const char* error = nullptr; };
    const Case cases[] = {
        {"plain.dds", 0, gfx::FMT_R8G8B8, 1},
        {"alpha.dds", 0, gfx::FMT_A8R8G8B8, 1},
        {"x.png", 0, gfx::FMT_DXT1, 1},  // the ".dds" of that name
        {"dxt5.dds", 0, gfx::FMT_DXT5, 1},
        {"v1.2/mips", 0, gfx::FMT_R8G8B8, 4},  // a dot in a folder is no extension
        {"lit.tga", RESOURCE_FLAG_SCENE_TEXTURE, gfx::FMT_R8G8B8, 1},  // from "scenes"
        {"shown.dds", RESOURCE_FLAG_LOADING_SCREEN, gfx::FMT_R8G8B8, 1},
        {"sky.dds", 0, gfx::FMT_UNKNOWN, 1},
        {"fog.dds", 0, gfx::FMT_UNKNOWN, 0, "Unable to create texture interface!"},
        {"only.dds", RESOURCE_FLAG_SCENE_TEXTURE, gfx::FMT_UNKNOWN, 0, "Unable to open texture file scenes/only.dds"},
    };
    for (const Case& c : cases) {
        auto* t = Load<ResourceTexture>(RESOURCE_TEXTURE, c.name, c.flags);
        if (c.levels == 0) {
            EXPECT_TRUE(!t->Handle() && t->GetSize() == 0 && Logged(c.error)) << c.name;
            EXPECT_TRUE(Logged(std::string("Resource loading failed (") + c.name + ")"));
            continue;
        }
        ASSERT_NE(t->Handle(), nullptr) << c.name;
        gfx::SurfaceDesc desc{};
        uint32_t levels = 0;
        rendertest::RunOnRenderThread([&] {
            if (gfx::Texture* texture = t->Handle()->Texture2D()) {
                texture->GetLevelDesc(0, &desc);
                levels = texture->GetLevelCount();
            } else if (t->Handle()->Cube()) {
                levels = t->Handle()->Cube()->GetLevelCount();
            }
        });
        EXPECT_EQ(desc.format, c.format) << c.name;
        EXPECT_EQ(desc.width, c.format == gfx::FMT_UNKNOWN ? 0u : 16u) << c.name;
        EXPECT_EQ(levels, c.levels) << c.name;
        EXPECT_GT(t->GetSize(), 128u) << c.name;
    }
}

TEST_F(KindsTest, SoundsByKindFromSoxOggencAndTheFixtureScript) {
    const std::string synth = "' synth 0.1 sine 440";
    Make("sox -n -r 8000 -c 1 -b 8 -e unsigned '" + Path("sounds", "pcm8.wav") + synth);
    Make("sox -n -r 22050 -c 2 -b 16 '" + Path("sounds", "pcm16.wav") + synth);
    Make("sox -n -r 22050 -c 1 -e ms-adpcm -t wav '" + Path("sounds", "sox.adpcm") + synth);
    Make("sox -n -r 11025 -c 2 -e ms-adpcm -t wav '" + Path("sounds", "both.wav") + synth);
    Make("oggenc -Q '" + Path("sounds", "pcm16.wav") + "' -o '" + Path("sounds", "music.ogg") + "'");
    // The engine's ADPCM layout: sox's "fact" chunk removed.
    Make(Fixture("stripfact '" + Path("sounds", "sox.adpcm") + "' '" + Path("sounds", "voice.adpcm") + "'"));
    Make(Fixture("stripfact '" + Path("sounds", "both.wav") + "' '" + Path("sounds", "both.adpcm") + "'"));
    Make(Fixture("xwma '" + Path("sounds", "speech.wav") + "'"));
    // The file read, and ffprobe's codec, rate and channels of it.
    struct Case { const char* name; const char* file; const char* probed; uint32_t kind; bool warning; };
    const Case cases[] = {
        {"pcm8.wav", "pcm8.wav", "pcm_u8,8000,1", SOUND_FORMAT_PCM, true},
        {"pcm16.wav", "pcm16.wav", "pcm_s16le,22050,2", SOUND_FORMAT_PCM, true},
        {"voice.wav", "voice.adpcm", "adpcm_ms,22050,1", SOUND_FORMAT_ADPCM, false},  // no "voice.wav" at all
        {"both.wav", "both.adpcm", "adpcm_ms,11025,2", SOUND_FORMAT_ADPCM, false},
        {"speech.wav", "speech.wav", "wmav2,44100,2", SOUND_FORMAT_XWMA, true},
        {"Music.OGG", "music.ogg", "vorbis,22050,2", SOUND_FORMAT_OGG, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Probe(Path("sounds", c.file), "codec_name,sample_rate,channels"), c.probed) << c.file;
        auto* s = Load<ResourceSound>(RESOURCE_SOUND, c.name);
        EXPECT_EQ(s->FormatKind(), c.kind) << c.name;
        EXPECT_EQ(Logged("Playing WAV sound file. This is a real waste"), c.warning) << c.name;
        const std::vector<uint8_t> file = ReadBytes(Path("sounds", c.file));
        ASSERT_EQ(s->GetSize(), file.size()) << c.name;
        EXPECT_STREQ(s->Chunk()->GetName(), c.name);
        // The data is the file's tail (the whole file for Ogg) inside the chunk.
        const auto* chunk = static_cast<const uint8_t*>(gSoundMemoryPool->GetChunkAddress(s->Chunk()));
        EXPECT_EQ(s->Data() + s->DataSize(), chunk + file.size()) << c.name;
        EXPECT_EQ(std::memcmp(s->Data(), file.data() + file.size() - s->DataSize(), s->DataSize()), 0);
        if (c.kind == SOUND_FORMAT_OGG) continue;
        EXPECT_EQ(s->WaveFormat().channels, c.probed[std::strlen(c.probed) - 1] - '0') << c.name;
        EXPECT_EQ(s->WaveFormat().formatTag, c.kind == SOUND_FORMAT_XWMA ? 0x161 : c.kind) << c.name;
    }
    auto* xwma = static_cast<ResourceSound*>(gResourceManager.GetResource(RESOURCE_SOUND, "speech.wav", 0, false, 0));
    const uint32_t packets[] = {4459, 8918, 13377, 17836};
    ASSERT_EQ(xwma->PacketTableSize(), sizeof packets);
    EXPECT_EQ(std::memcmp(xwma->PacketTable(), packets, sizeof packets), 0);
    xwma->Release();
}

TEST_F(KindsTest, MalformedSoundsAndAFullPoolFail) {
    Make(Fixture("wave '" + Path("sounds", "float.wav") + "' 3"));
    Make(Fixture("wave '" + Path("sounds", "listed.wav") + "' 1 between"));
    Make("sox -n -r 22050 -c 1 -e ms-adpcm -t wav '" + Path("sounds", "fact.adpcm") + "' synth 0.1 sine 440");
    Make("sox -n -r 8000 -c 1 -b 16 '" + Path("sounds", "late.wav") + "' synth 0.1 sine 440");
    WriteBytes(Path("sounds", "short.wav"), {'R', 'I', 'F', 'F', 0, 0, 0});
    WriteBytes(Path("sounds", "music.mp3"), {'I', 'D', '3', 3, 0, 0, 0, 0});
    const std::pair<const char*, const char*> cases[] = {
        {"float.wav", "Unsupported wave format: 3"},
        {"listed.wav", nullptr},  // a "LIST" chunk between "fmt " and "data"
        {"fact.wav", nullptr},    // sox's "fact" chunk there
        {"short.wav", nullptr},
        {"music.mp3", nullptr},  // not a kind of sound
        {"absent.ogg", nullptr},
        {"late.wav", "Out of sound memory. Please doublecheck"},  // with the pool taken
    };
    SystemMemoryChunk* all = nullptr;
    for (const auto& [name, message] : cases) {
        if (std::string(name) == "late.wav") all = gSoundMemoryPool->Alloc(gSoundMemoryPool->Size(), -1);
        auto* s = Load<ResourceSound>(RESOURCE_SOUND, name);
        EXPECT_TRUE(s->FormatKind() == SOUND_FORMAT_NONE && !s->Chunk()) << name;
        EXPECT_TRUE(Logged(std::string("Resource loading failed (") + name + ")")) << name;
        EXPECT_TRUE(!message || Logged(message)) << name;
    }
    ASSERT_NE(all, nullptr);
    gSoundMemoryPool->ReleaseChunk(all);
}

// The binary font reader's stand-in: pages of heights 16 and 32, texel bytes counting up.
struct TwoPages : FontFileServices {
    bool LoadBinFont(ResourceFont& font) override;
};
bool TwoPages::LoadBinFont(ResourceFont& font) {
    const uint32_t texel = font.Outlined() ? 2 : 1;
    font.SetTexelBytes(texel);
    for (uint32_t height : {16u, 32u}) {
        auto* pixels = static_cast<uint8_t*>(EngineAlloc(kFontPageWidth * texel * height));
        for (uint32_t i = 0; i < kFontPageWidth * texel * height; ++i) pixels[i] = uint8_t(i % 251);
        font.AddPage(pixels, height);
    }
    return true;
}

TEST_F(KindsTest, FontNamesAndPageTextures) {
    WriteBytes(Path("common", "Fonts/face.ttf"), {0, 1, 0, 0});
    static uint32_t languages;  // asked for the characters the strings use, until a language has none
    languages = 0;
    struct CountLanguages : FontFileServices {
        bool CollectUsedCharacters(uint32_t, uint8_t*) override { return ++languages < 3; }
    } counting;
    SetFontFileServices(&counting);
    Resource* face = Load<Resource>(RESOURCE_FONT, "Face.ttf~20");  // no binary font: fails
    EXPECT_EQ(languages, 3u);
    EXPECT_TRUE(Logged("Unable to load binary font file. Reading the source TTF (Face.ttf~20)"));
    EXPECT_TRUE(Logged("Resource loading failed (Face.ttf~20)"));
    EXPECT_EQ(gVornexRenderer.ProfilerOverlay().AcquireFont("face.ttf~20"), nullptr);
    EXPECT_EQ(face->GetUseCount(), 1u);  // the overlay's lookup gave its use back
    EXPECT_EQ(gVornexRenderer.ProfilerOverlay().AcquireFont(""), nullptr);  // no resource at all
    Load<Resource>(RESOURCE_FONT, (std::string(128, 'f') + "~10").c_str());
    EXPECT_TRUE(Logged("longer than 127 characters"));

    TwoPages pages;
    SetFontFileServices(&pages);
    const std::tuple<const char*, const char*, uint32_t, uint32_t, gfx::Format> cases[] = {
        {"_system.ttf~012", "_system.ttf", 12, 0, gfx::FMT_A8},
        {"A.TTF~10#2", "a.ttf", 10, 2, gfx::FMT_A8L8},
        {"b.ttf~7#0", "b.ttf", 7, 0, gfx::FMT_A8},
        {"name#2~012", "name", 12, 2, gfx::FMT_A8L8},
        {"menu.ttf~020_German", "menu.ttf", 20, 0, gfx::FMT_A8},
    };
    for (const auto& [name, base, size, outline, format] : cases) {
        auto* font = Load<ResourceFont>(RESOURCE_FONT, name);
        EXPECT_STREQ(font->BaseName(), base);
        EXPECT_TRUE(font->PointSize() == size && font->OutlineSize() == outline && font->Outlined() == (outline > 0));
        ASSERT_EQ(font->PageTextureCount(), 2u) << name;
        for (uint32_t page = 0; page < 2; ++page) {
            gfx::SurfaceDesc desc{};
            uint8_t second = 0;
            rendertest::RunOnRenderThread([&] {
                gfx::Texture* texture = font->PageTexture(page)->Texture2D();
                texture->GetLevelDesc(0, &desc);
                gfx::LockedRect locked{};
                texture->LockRect(0, &locked, nullptr, gfx::LOCK_READONLY);
                second = static_cast<const uint8_t*>(locked.bits)[locked.pitch];  // first texel of row 1
                texture->UnlockRect(0);
            });
            EXPECT_TRUE(desc.format == format && desc.width == kFontPageWidth && desc.height == 16u << page) << name;
            EXPECT_EQ(second, uint8_t(kFontPageWidth * (outline ? 2 : 1) % 251)) << name;  // rows of width x texel
        }
    }
    void* overlayFont = gVornexRenderer.ProfilerOverlay().AcquireFont("_system.ttf~012");
    EXPECT_NE(overlayFont, nullptr);
    gVornexRenderer.ProfilerOverlay().ReleaseFont(overlayFont);
    SetFontFileServices(nullptr);
}

}  // namespace

namespace {

const std::string kTool = "python3 " PROJECT_SOURCE_ROOT "/tests/support/anim_file.py ";

// Three tracks: the rotation and translation channels with several keys, an empty name,
// a track with only scale keys; header bytes 1..8.
const char* const kClip =
    R"({"length": 2.0, "header": [1,2,3,4,5,6,7,8], "tracks": [)"
    R"({"name": "root", "rotation": [[0,0,0,0],[0.5,0,0.7071,0],[1,0.5,0.5,0.5]],)"
    R"( "translation": [[0,1,2,3],[1,-4,5,6]], "scale": [[0,1,1,1]]},)"
    R"({"name": "", "translation": [[0.25,0,0,0]]},)"
    R"({"name": "forearm", "scale": [[0.5,1,1,1],[1,2,0.5,2]]}]})";

struct AnimationFileTest : testing::Test {
    void SetUp() override {
        char pattern[] = "/tmp/animation_file_test_XXXXXX";
        root = mkdtemp(pattern);
        gFileSystem.MountDirectory("animations", root.c_str());
        log.Attach();
        // The tool's file and its stored keys, one "x y z t" line each.
        std::istringstream lines(shelltest::ShellOutput("echo '" + std::string(kClip) + "' | " + kTool + "write " +
                                                        root + "/clip.bin"));
        for (int v[4]; lines >> v[0] >> v[1] >> v[2] >> v[3];)
            keys.push_back({int16_t(v[0]), int16_t(v[1]), int16_t(v[2]), int16_t(v[3])});
        file = resourcetest::ReadBytes(root + "/clip.bin");
        ASSERT_EQ(keys.size(), 9u);
        ASSERT_GT(file.size(), 16u);
    }
    void TearDown() override {
        log.Detach();
        gFileSystem.UnmountAll();
        std::filesystem::remove_all(root);
    }
    void Write(const std::vector<uint8_t>& bytes) { resourcetest::WriteBytes(root + "/case.bin", bytes); }
    // Loads "case" and, when it fails, checks the clip was left empty.
    bool Load(const std::vector<uint8_t>& bytes) {
        Write(bytes);
        ResourceAnimation animation("case");
        const bool loaded = animation.LoadResource();
        if (!loaded) {
            const AnimationClipData& clip = animation.Clip();
            EXPECT_TRUE(clip.TrackCount() == 0 && clip.KeyCount() == 0 && clip.Length() == 0.0f);
            EXPECT_TRUE(clip.ChannelBox(0).IsEmpty3D());
        }
        return loaded;
    }
    // Warnings and errors logged (the resource's own progress lines aside).
    size_t Errors() {
        size_t n = 0;
        for (const CaptureLogSink::Message& m : log.Messages()) n += m.severity >= 3;
        return n;
    }
    template <class T>
    void Put(std::vector<uint8_t>& bytes, size_t offset, T value) {
        std::memcpy(bytes.data() + offset, &value, sizeof value);
    }
    // Byte offsets of the tool's file: track 0's name length, the key count, the boxes.
    static constexpr size_t kTrackCount = 16, kFirstName = 20;
    size_t KeyCountOffset() const { return 20 + (4 + 4 + 6) + (4 + 0 + 6) + (4 + 7 + 6); }
    size_t BoxesOffset() const { return KeyCountOffset() + 4 + 8 * keys.size(); }

    std::string root;
    CaptureLogSink log;
    std::vector<AnimationKey> keys;
    std::vector<uint8_t> file;
};

TEST_F(AnimationFileTest, ToolClipLoadsWithTracksKeysBoxesAndLength) {
    ResourceAnimation animation("clip");
    ASSERT_TRUE(animation.LoadResource());
    const AnimationClipData& clip = animation.Clip();
    ASSERT_EQ(clip.TrackCount(), 3u);
    struct Row {
        const char* name;
        uint16_t counts[3];
    } const rows[] = {{"root", {3, 2, 1}}, {"", {0, 1, 0}}, {"forearm", {0, 0, 2}}};
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_STREQ(clip.Track(i).name.CStr(), rows[i].name);
        for (int c = 0; c < 3; ++c) EXPECT_EQ(clip.Track(i).keyCounts[c], rows[i].counts[c]) << i << " " << c;
    }
    EXPECT_TRUE(clip.Track(1).name.IsEmpty());
    ASSERT_EQ(clip.KeyCount(), keys.size());
    for (uint32_t i = 0; i < keys.size(); ++i) {
        const AnimationKey& k = clip.Key(i);
        EXPECT_TRUE(k.x == keys[i].x && k.y == keys[i].y && k.z == keys[i].z && k.t == keys[i].t) << "key " << i;
    }
    // Boxes over each channel's keys: x, y, z bounds and the t range.
    const BoundingBox4 want[] = {{Vector(0, 0, 0, 0), Vector(0.5f, 0.7071f, 0.5f, 1)},
                                 {Vector(-4, 0, 0, 0), Vector(1, 5, 6, 1)},
                                 {Vector(1, 0.5f, 1, 0), Vector(2, 1, 2, 1)}};
    for (uint32_t c = 0; c < 3; ++c) EXPECT_EQ(clip.ChannelBox(c), want[c]) << "box " << c;
    EXPECT_EQ(clip.Length(), 2.0f);
    EXPECT_EQ(std::memcmp(animation.HeaderValue(), "\1\2\3\4\5\6\7\10", 8), 0);
    // Bytes after the body change nothing.
    std::vector<uint8_t> longer = file;
    longer.insert(longer.end(), {9, 9, 9});
    EXPECT_TRUE(Load(longer));
}

TEST_F(AnimationFileTest, EmptyBodyLoadsAnEmptyClip) {
    const std::string body = shelltest::ShellOutput("echo '{\"length\": 0.5, \"tracks\": []}' | " + kTool + "body");
    std::vector<uint8_t> bytes(file.begin(), file.begin() + 16);
    for (size_t i = 0; i + 1 < body.size(); i += 2) bytes.push_back(uint8_t(std::stoi(body.substr(i, 2), nullptr, 16)));
    ASSERT_EQ(bytes.size(), 16u + 4 + 4 + 96 + 4);
    Write(bytes);
    ResourceAnimation animation("case");
    ASSERT_TRUE(animation.LoadResource());
    EXPECT_EQ(animation.Clip().TrackCount(), 0u);
    EXPECT_EQ(animation.Clip().KeyCount(), 0u);
    EXPECT_EQ(animation.Clip().Length(), 0.5f);
}

TEST_F(AnimationFileTest, WrongMagicOrVersionStaysUnloadedWithoutAMessage) {
    for (auto [offset, value] : {std::pair<size_t, uint32_t>{0, 0xA3B9550Eu}, {4, 2}, {4, 4}}) {
        std::vector<uint8_t> bytes = file;
        Put(bytes, offset, value);
        log.Clear();
        EXPECT_FALSE(Load(bytes)) << offset << " " << value;
        EXPECT_EQ(Errors(), 0u);
    }
}

TEST_F(AnimationFileTest, EveryTruncationFailsCleanly) {
    for (size_t size = 0; size < file.size(); ++size)
        EXPECT_FALSE(Load(std::vector<uint8_t>(file.begin(), file.begin() + ptrdiff_t(size)))) << size;
}

TEST_F(AnimationFileTest, AlteredCountsLengthsAndValuesAreRefused) {
    const float inf = INFINITY, nan = NAN;
    struct Case {
        const char* what;
        size_t offset;
        uint32_t size;  // 2 or 4 bytes written
        uint32_t bits;
    };
    auto floatBits = [](float f) {
        uint32_t b;
        std::memcpy(&b, &f, 4);
        return b;
    };
    const Case cases[] = {
        {"one track more", kTrackCount, 4, 4},
        {"one track fewer", kTrackCount, 4, 2},
        {"a track count past the bytes left", kTrackCount, 4, 0x10000000},
        {"a name one byte longer", kFirstName, 4, 5},
        {"a name longer than the file", kFirstName, 4, 0xFFFFFFF0u},
        {"a rotation count one higher", kFirstName + 4 + 4, 2, 4},
        {"a scale count one lower", kFirstName + 4 + 4 + 4, 2, 0},
        {"one key more", KeyCountOffset(), 4, uint32_t(keys.size() + 1)},
        {"one key fewer", KeyCountOffset(), 4, uint32_t(keys.size() - 1)},
        {"a key count past the bytes left", KeyCountOffset(), 4, 0x20000000},
        {"an infinite box value", BoxesOffset() + 4, 4, floatBits(inf)},
        {"a NaN as the last box value", BoxesOffset() + 92, 4, floatBits(nan)},
        {"a NaN length", BoxesOffset() + 96, 4, floatBits(nan)},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = file;
        if (c.size == 4) Put(bytes, c.offset, c.bits);
        else Put(bytes, c.offset, uint16_t(c.bits));
        log.Clear();
        EXPECT_FALSE(Load(bytes)) << c.what;
        EXPECT_EQ(Errors(), 1u) << c.what;
    }
}

TEST_F(AnimationFileTest, AFailedReloadEmptiesTheClip) {
    Write(file);
    ResourceAnimation animation("case");
    ASSERT_TRUE(animation.LoadResource());
    ASSERT_EQ(animation.Clip().TrackCount(), 3u);
    Write(std::vector<uint8_t>(file.begin(), file.end() - 1));
    EXPECT_FALSE(animation.LoadResource());
    EXPECT_EQ(animation.Clip().TrackCount(), 0u);
    EXPECT_EQ(animation.Clip().KeyCount(), 0u);
}

}  // namespace
