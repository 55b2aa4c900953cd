// The resource kinds on files made by real tools (ImageMagick's convert, sox, oggenc)
// and by the fixture script, each confirmed by ffprobe where it reads the format:
// textures, sounds, animations and fonts loaded through the ResourceManager.
// test-sanitize: thread address
// test-timeout: 240
#include <cstring>

#include "ResourceTestSupport.h"
#include "core/Memory.h"
#include "render/DeviceObjectHandle.h"
#include "render/resources/ResourceAnimation.h"
#include "render/resources/ResourceFont.h"
#include "render/resources/ResourceSound.h"
#include "render/resources/ResourceTexture.h"
#include "render/resources/SoundMemoryPool.h"

using namespace resourcetest;

namespace {

struct KindsTest : ResourceFixture {
    void Make(const std::string& command) { ASSERT_TRUE(Shell(command)) << command; }
    // Loads a resource through the manager and keeps it (released by TearDown's Stop).
    template <class T>
    T* Load(uint32_t type, const char* name, uint32_t flags = 0) {
        Resource* r = Get(type, name, flags);
        EXPECT_NE(r, nullptr) << name;
        if (!r) return nullptr;
        r->Load(true);
        EXPECT_TRUE(r->IsLoaded()) << name;
        return static_cast<T*>(r);
    }
};

// ---------------------------------------------------------------------------------------
// Textures

TEST_F(KindsTest, TexturesFromDdsFiles) {
    const std::string gradient = "convert -size 16x8 gradient:red-blue ";
    const std::string alpha = gradient + "-alpha set -channel A -fx i/w +channel ";
    Make(gradient + "-define dds:compression=none -define dds:mipmaps=0 '" + Path("textures", "plain.dds") + "'");
    Make(alpha + "-define dds:compression=none -define dds:mipmaps=0 '" + Path("textures", "alpha.dds") + "'");
    Make(gradient + "-define dds:compression=dxt1 -define dds:mipmaps=0 '" + Path("textures", "dxt1.dds") + "'");
    Make(alpha + "-define dds:compression=dxt5 -define dds:mipmaps=0 '" + Path("textures", "dxt5.dds") + "'");
    Make(gradient + "-define dds:compression=none -define dds:mipmaps=3 '" + Path("textures", "mips.dds") + "'");
    Make(gradient + "-define dds:compression=dxt1 -define dds:mipmaps=0 '" + Path("textures", "x.dds") + "'");
    Make(gradient + "-define dds:compression=none -define dds:mipmaps=0 '" + Path("scenes", "lit.dds") + "'");
    Make(gradient + "-define dds:compression=none -define dds:mipmaps=0 '" + Path("scenes", "shown.dds") + "'");
    Make(Fixture("cube '" + Path("textures", "sky.dds") + "'"));
    for (const char* file : {"plain", "alpha", "dxt1", "dxt5", "mips", "sky"})
        EXPECT_EQ(Probe(Path("textures", std::string(file) + ".dds"), "codec_name"), "dds") << file;

    struct Case {
        const char* name;
        uint32_t flags;
        gfx::Format format;  // FMT_UNKNOWN: a cube map
        uint32_t levels;
    };
    const Case cases[] = {
        {"plain.dds", 0, gfx::FMT_R8G8B8, 1},
        {"alpha.dds", 0, gfx::FMT_A8R8G8B8, 1},
        {"dxt1.dds", 0, gfx::FMT_DXT1, 1},
        {"dxt5.dds", 0, gfx::FMT_DXT5, 1},
        {"mips.dds", 0, gfx::FMT_R8G8B8, 4},
        {"sky.dds", 0, gfx::FMT_UNKNOWN, 1},
        {"x.png", 0, gfx::FMT_DXT1, 1},                                 // the ".dds" of that name
        {"lit.tga", RESOURCE_FLAG_SCENE_TEXTURE, gfx::FMT_R8G8B8, 1},  // from "scenes"
        {"shown.dds", RESOURCE_FLAG_LOADING_SCREEN, gfx::FMT_R8G8B8, 1},
    };
    for (const Case& c : cases) {
        auto* t = Load<ResourceTexture>(RESOURCE_TEXTURE, c.name, c.flags);
        ASSERT_NE(t->Handle(), nullptr) << c.name;
        gfx::SurfaceDesc desc{};
        uint32_t levels = 0;
        bool cube = false;
        rendertest::RunOnRenderThread([&] {
            cube = t->Handle()->Cube() != nullptr;
            if (gfx::Texture* texture = t->Handle()->Texture2D()) {
                texture->GetLevelDesc(0, &desc);
                levels = texture->GetLevelCount();
            } else if (cube) {
                levels = t->Handle()->Cube()->GetLevelCount();
            }
        });
        EXPECT_EQ(cube, c.format == gfx::FMT_UNKNOWN) << c.name;
        if (!cube) {
            EXPECT_EQ(desc.format, c.format) << c.name;
            EXPECT_EQ(desc.width, 16u) << c.name;
            EXPECT_EQ(desc.height, 8u) << c.name;
        }
        EXPECT_EQ(levels, c.levels) << c.name;
        EXPECT_GT(t->GetSize(), 128u) << c.name;
    }
}

TEST_F(KindsTest, TexturesThatCannotBeMadeFailWithTheirReason) {
    Make(Fixture("volume '" + Path("textures", "fog.dds") + "'"));
    auto* volume = Load<ResourceTexture>(RESOURCE_TEXTURE, "fog.dds");
    EXPECT_EQ(volume->Handle(), nullptr);
    EXPECT_EQ(volume->GetSize(), 0u);
    EXPECT_TRUE(Logged("Unable to create texture interface!"));
    EXPECT_TRUE(Logged("Resource loading failed (fog.dds)"));

    // Flag 128 looks in "scenes" only.
    Make("convert -size 4x4 xc:red -define dds:compression=none '" + Path("textures", "only.dds") + "'");
    auto* missing = Load<ResourceTexture>(RESOURCE_TEXTURE, "only.dds", RESOURCE_FLAG_SCENE_TEXTURE);
    EXPECT_EQ(missing->Handle(), nullptr);
    EXPECT_TRUE(Logged("Unable to open texture file scenes/only.dds"));
}

// ---------------------------------------------------------------------------------------
// Sounds

TEST_F(KindsTest, WaveSoundsByKindWithTheWarningOnlyWithoutAnAdpcmSibling) {
    const std::string synth = " synth 0.1 sine 440";
    Make("sox -n -r 8000 -c 1 -b 8 -e unsigned '" + Path("sounds", "pcm8.wav") + "'" + synth);
    Make("sox -n -r 22050 -c 2 -b 16 '" + Path("sounds", "pcm16.wav") + "'" + synth);
    Make("sox -n -r 22050 -c 1 -e ms-adpcm -t wav '" + Path("sounds", "raw.adpcm") + "'" + synth);
    Make("sox -n -r 11025 -c 2 -e ms-adpcm -t wav '" + Path("sounds", "both.wav") + "'" + synth);
    // The engine's ADPCM layout: sox's "fact" chunk removed.
    Make(Fixture("stripfact '" + Path("sounds", "raw.adpcm") + "' '" + Path("sounds", "voice.adpcm") + "'"));
    Make(Fixture("stripfact '" + Path("sounds", "both.wav") + "' '" + Path("sounds", "both.adpcm") + "'"));
    struct Case {
        const char* name;
        const char* probed;  // ffprobe's codec, channels and rate of the file read
        const char* file;
        uint32_t kind;
        bool warning;
    };
    const Case cases[] = {
        {"pcm8.wav", "pcm_u8,8000,1", "pcm8.wav", SOUND_FORMAT_PCM, true},
        {"pcm16.wav", "pcm_s16le,22050,2", "pcm16.wav", SOUND_FORMAT_PCM, true},
        {"voice.wav", "adpcm_ms,22050,1", "voice.adpcm", SOUND_FORMAT_ADPCM, false},  // no "voice.wav" at all
        {"both.wav", "adpcm_ms,11025,2", "both.adpcm", SOUND_FORMAT_ADPCM, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Probe(Path("sounds", c.file), "codec_name,sample_rate,channels"), c.probed) << c.file;
        log.Clear();
        auto* s = Load<ResourceSound>(RESOURCE_SOUND, c.name);
        EXPECT_EQ(s->FormatKind(), c.kind) << c.name;
        EXPECT_EQ(Logged("Playing WAV sound file."), c.warning) << c.name;
        const std::vector<uint8_t> file = ReadBytes(Path("sounds", c.file));
        EXPECT_EQ(s->GetSize(), file.size());
        // The data chunk is the file's tail; the format is the "fmt " chunk's head.
        ASSERT_NE(s->Data(), nullptr);
        EXPECT_EQ(s->Data() + s->DataSize(), static_cast<const uint8_t*>(gSoundMemoryPool->GetChunkAddress(s->Chunk())) +
                                                 file.size());
        EXPECT_EQ(std::memcmp(s->Data(), file.data() + (file.size() - s->DataSize()), s->DataSize()), 0);
        EXPECT_EQ(s->WaveFormat().formatTag, c.kind);
        EXPECT_EQ(s->WaveFormat().channels, std::strtoul(std::strrchr(c.probed, ',') + 1, nullptr, 10));
        EXPECT_EQ(s->WaveFormat().extraSize, 0u);
        EXPECT_STREQ(s->Chunk()->GetName(), c.name);
    }
}

TEST_F(KindsTest, OggAndXwmaSoundsKeepTheirWholeDataAndPacketTable) {
    Make("sox -n -r 22050 -c 1 -b 16 '" + Path("sounds", "src.wav") + "' synth 0.3 sine 300");
    Make("oggenc -Q '" + Path("sounds", "src.wav") + "' -o '" + Path("sounds", "music.ogg") + "'");
    Make(Fixture("xwma '" + Path("sounds", "speech.wav") + "'"));
    EXPECT_EQ(Probe(Path("sounds", "music.ogg"), "codec_name"), "vorbis");
    EXPECT_EQ(Probe(Path("sounds", "speech.wav"), "codec_name,channels"), "wmav2,2");

    auto* ogg = Load<ResourceSound>(RESOURCE_SOUND, "Music.OGG");
    const std::vector<uint8_t> file = ReadBytes(Path("sounds", "music.ogg"));
    EXPECT_EQ(ogg->FormatKind(), uint32_t(SOUND_FORMAT_OGG));
    ASSERT_EQ(ogg->DataSize(), file.size());
    EXPECT_EQ(std::memcmp(ogg->Data(), file.data(), file.size()), 0);

    auto* xwma = Load<ResourceSound>(RESOURCE_SOUND, "speech.wav");
    EXPECT_EQ(xwma->FormatKind(), uint32_t(SOUND_FORMAT_XWMA));
    const uint32_t packets[] = {4459, 8918, 13377, 17836};
    ASSERT_EQ(xwma->PacketTableSize(), sizeof packets);
    EXPECT_EQ(std::memcmp(xwma->PacketTable(), packets, sizeof packets), 0);
    EXPECT_EQ(xwma->DataSize(), 64u);
    EXPECT_EQ(xwma->WaveFormat().formatTag, 0x161);
}

TEST_F(KindsTest, MalformedWavesFail) {
    Make("sox -n -r 22050 -c 1 -e ms-adpcm -t wav '" + Path("sounds", "sox.adpcm") + "' synth 0.1 sine 440");
    Make(Fixture("wave '" + Path("sounds", "float.wav") + "' 3"));
    Make(Fixture("wave '" + Path("sounds", "listed.wav") + "' 1 between"));
    WriteBytes(Path("sounds", "short.wav"), {'R', 'I', 'F', 'F', 0, 0, 0});
    WriteBytes(Path("sounds", "music.mp3"), {'I', 'D', '3', 3, 0, 0, 0, 0});
    struct Case {
        const char* name;
        const char* message;  // null: only the manager's failure line
    };
    const Case cases[] = {
        {"sox.wav", nullptr},     // sox's "fact" chunk stands between "fmt " and "data"
        {"float.wav", "Unsupported wave format: 3"},
        {"listed.wav", nullptr},  // a "LIST" chunk in between
        {"short.wav", nullptr},
        {"music.mp3", nullptr},   // not a kind of sound
        {"absent.ogg", nullptr},
    };
    for (const Case& c : cases) {
        log.Clear();
        auto* s = Load<ResourceSound>(RESOURCE_SOUND, c.name);
        EXPECT_EQ(s->FormatKind(), uint32_t(SOUND_FORMAT_NONE)) << c.name;
        EXPECT_EQ(s->Chunk(), nullptr) << c.name;
        EXPECT_TRUE(Logged(std::string("Resource loading failed (") + c.name + ")")) << c.name;
        if (c.message) EXPECT_TRUE(Logged(c.message)) << c.name;
    }
}

TEST_F(KindsTest, FullSoundPoolFailsTheLoad) {
    Make("sox -n -r 8000 -c 1 -b 16 '" + Path("sounds", "late.wav") + "' synth 0.1 sine 440");
    SystemMemoryChunk* all = gSoundMemoryPool->Alloc(gSoundMemoryPool->Size(), -1);
    ASSERT_NE(all, nullptr);
    auto* s = Load<ResourceSound>(RESOURCE_SOUND, "late.wav");
    EXPECT_EQ(s->Chunk(), nullptr);
    EXPECT_TRUE(Logged("Out of sound memory."));
    gSoundMemoryPool->ReleaseChunk(all);
}

// ---------------------------------------------------------------------------------------
// Animations

TEST_F(KindsTest, AnimationsNeedTheMagicAndVersionThree) {
    Make(Fixture("anim '" + Path("animations", "walk.bin") + "' 3"));
    Make(Fixture("anim '" + Path("animations", "old.bin") + "' 2"));
    auto* walk = Load<ResourceAnimation>(RESOURCE_ANIMATION, "walk");
    EXPECT_TRUE(Logged("Resource loaded successfully (walk)"));
    EXPECT_EQ(walk->HeaderValue()[7], 7);
    EXPECT_EQ(walk->Clip().TrackCount(), 0u);
    EXPECT_TRUE(walk->Clip().ChannelBox(0).IsEmpty3D());

    ResourceAnimation old("old");
    log.Clear();
    EXPECT_FALSE(old.LoadResource());
    EXPECT_TRUE(log.Messages().empty());  // fails without a message
}

// ---------------------------------------------------------------------------------------
// Fonts

// The binary font reader's stand-in: two pages of heights 16 and 32 whose texel bytes
// count up.
bool TwoPages(ResourceFont& font) {
    const uint32_t texel = font.Outlined() ? 2 : 1;
    for (uint32_t height : {16u, 32u}) {
        const uint32_t bytes = kFontPageWidth * texel * height;
        auto* pixels = static_cast<uint8_t*>(EngineAlloc(bytes));
        for (uint32_t i = 0; i < bytes; ++i) pixels[i] = uint8_t(i % 251);
        font.AddPage(pixels, height);
    }
    font.SetGlyphTables(EngineAlloc(64), 64);
    return true;
}

TEST_F(KindsTest, FontNamesAndPageTextures) {
    ResourceFont::SetHooks({&TwoPages, nullptr, nullptr});
    struct Case {
        const char* name;
        const char* base;
        uint32_t size, outline;
        gfx::Format format;
    };
    const Case cases[] = {
        {"_system.ttf~012", "_system.ttf", 12, 0, gfx::FMT_A8},
        {"A.TTF~10#2", "a.ttf", 10, 2, gfx::FMT_A8L8},
        {"b.ttf~7#0", "b.ttf", 7, 0, gfx::FMT_A8},
    };
    for (const Case& c : cases) {
        auto* font = Load<ResourceFont>(RESOURCE_FONT, c.name);
        EXPECT_STREQ(font->BaseName(), c.base);
        EXPECT_EQ(font->PointSize(), c.size);
        EXPECT_EQ(font->OutlineSize(), c.outline);
        EXPECT_EQ(font->Outlined(), c.outline > 0);
        ASSERT_EQ(font->PageTextureCount(), 2u) << c.name;
        for (uint32_t page = 0; page < 2; ++page) {
            gfx::SurfaceDesc desc{};
            std::vector<uint8_t> row;
            rendertest::RunOnRenderThread([&] {
                gfx::Texture* texture = font->PageTexture(page)->Texture2D();
                texture->GetLevelDesc(0, &desc);
                gfx::LockedRect locked{};
                texture->LockRect(0, &locked, nullptr, gfx::LOCK_READONLY);
                const uint8_t* second = static_cast<const uint8_t*>(locked.bits) + locked.pitch;
                row.assign(second, second + 8);
                texture->UnlockRect(0);
            });
            EXPECT_EQ(desc.format, c.format);
            EXPECT_EQ(desc.width, kFontPageWidth);
            EXPECT_EQ(desc.height, page ? 32u : 16u);
            const uint32_t rowBytes = kFontPageWidth * (c.outline ? 2 : 1);
            EXPECT_EQ(row[0], uint8_t(rowBytes % 251)) << c.name;  // rows of width x texel bytes
        }
    }
    // The profiler overlay's font comes from the manager.
    void* overlayFont = gVornexRenderer.ProfilerOverlay().AcquireFont("_system.ttf~012");
    EXPECT_NE(overlayFont, nullptr);
    gVornexRenderer.ProfilerOverlay().ReleaseFont(overlayFont);
    ResourceFont::SetHooks({});
}

TEST_F(KindsTest, FontsWithoutABinaryFontFail) {
    WriteBytes(Path("common", "Fonts/face.ttf"), {0, 1, 0, 0});
    auto* font = Load<ResourceFont>(RESOURCE_FONT, "Face.ttf~20");
    EXPECT_EQ(font->PageTextureCount(), 0u);
    EXPECT_TRUE(Logged("Unable to load binary font file. Reading the source TTF (Face.ttf~20)"));
    EXPECT_TRUE(Logged("Resource loading failed (Face.ttf~20)"));
    EXPECT_EQ(gVornexRenderer.ProfilerOverlay().AcquireFont("face.ttf~20"), nullptr);

    const std::string longBase = std::string(128, 'f') + "~10";
    auto* refused = Load<ResourceFont>(RESOURCE_FONT, longBase.c_str());
    EXPECT_FALSE(refused->BaseNameValid());
    EXPECT_TRUE(Logged("longer than 127 characters"));
}

}  // namespace
