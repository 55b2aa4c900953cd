#include "SoundFixture.h"

#include <lua.hpp>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/fs/FileSystem.h"
#include "engine/script/LuaWrapper.h"
#include "platform/audio/AudioEngine.h"
#include "platform/os/Clock.h"
#include "render/resources/ResourceManager.h"
#include "sound/SoundEngine.h"
#include "sound/SoundInstance.h"
#include "ui/video/VideoEngine.h"
#include "ui/video/VideoPlayer.h"

namespace {

constexpr uint32_t kOutputRate = 48000;
constexpr uint32_t kOutputChannels = 2;
constexpr int64_t kStepTicks = os::kCounterFrequency * 30 / 1000;  // 30 ms
constexpr uint32_t kStepFrames = kOutputRate * 30 / 1000;

audio::EngineOptions gOptions;
bool gSoundStarted = false;
bool gLoaderStarted = false;
os::ManualClock* gClock = nullptr;
bool gMounted = false;  // for the rest of the program
// Steps a script may still take: a script (a fuzzed one above all) cannot stall its
// program in the fixture's own loops, which no instruction budget interrupts.
constexpr int kStepsPerState = 5000;
int gStepsLeft = 0;

bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

void EnsureSound() {
    if (gSoundStarted || !gSoundEngine) return;
    gOptions = audio::EngineOptions{audio::OutputKind::kManual, kOutputRate, kOutputChannels, nullptr};
    gSoundEngine->SetRunWithoutThread(true);
    gSoundEngine->SetEngineOptions(&gOptions);
    gSoundEngine->Start();
    gSoundStarted = true;
}

// The media of the cases, made once per build folder by the outside tools (tests run in
// parallel: each file is written aside and renamed); false when a tool failed.
constexpr const char* kMediaFolder = PROJECT_BINARY_ROOT "/bindings_media";

bool MakeOnce(const std::string& name, const std::string& commandWithOut) {
    const std::string path = std::string(kMediaFolder) + "/" + name;
    if (std::filesystem::exists(path)) return true;
    std::filesystem::create_directories(kMediaFolder);
    const std::string temp = path + ".tmp" + std::to_string(getpid());
    std::string command = commandWithOut;
    command.replace(command.find("{out}"), 5, "'" + temp + "'");
    if (!Shell(command)) return false;
    std::filesystem::rename(temp, path);
    return true;
}

// A one-second clip with sound; a 0.3 s tone as WAV (sox) and as Ogg Vorbis (oggenc).
bool MakeMedia() {
    return MakeOnce("clip.ogv", "ffmpeg -y -v error -f lavfi -i testsrc2=s=160x120:r=25:d=1 -f lavfi -i "
                                "sine=f=440:r=44100:d=1 -c:v libtheora -q:v 5 -c:a libvorbis -ac 2 -f ogg {out}") &&
           MakeOnce("tone.wav", "sox -n -r 44100 -c 1 -b 16 -t wav {out} synth 0.3 sine 440 vol 0.5") &&
           MakeOnce("tone.ogg", std::string("oggenc -Q -o {out} '") + kMediaFolder + "/tone.wav'");
}

// The media folder mounted as "sounds" and "videos", and the loader started (it opens
// the files).
void EnsureMedia() {
    if (!gMounted) {
        gMounted = MakeMedia() && gFileSystem.MountDirectory("videos", kMediaFolder) &&
                   gFileSystem.MountDirectory("sounds", kMediaFolder);
    }
    if (!gLoaderStarted) gLoaderStarted = gResourceManager.Start();
}

void EnsureVideo() {
    EnsureSound();
    if (!gClock) {
        gClock = new os::ManualClock(1'000'000'000);
        gClock->Install();
    }
    EnsureMedia();
}

// One wake of the sound engine 30 ms later, then 30 ms of output; false (nothing done)
// once the state's steps are spent.
bool Step() {
    if (gStepsLeft <= 0) return false;
    --gStepsLeft;
    if (gClock) gClock->Advance(kStepTicks);
    gSoundEngine->RunWake();
    audio::AudioEngine* a = gSoundEngine->GetAudioEngine();
    if (!a) return true;
    std::vector<float> out(size_t(kStepFrames) * kOutputChannels);
    a->Render(kStepFrames, out.data());
    return true;
}

int SoundEngineObject(lua_State*) {
    if (!gSoundEngine) return 0;
    EnsureSound();
    if (gSoundStarted) gSoundEngine->RunWake();
    gLua.PushUserType(gSoundEngine, "SoundEngine");
    return 1;
}

// Read straight from the ring, word by word: no C++ object lives across the Lua calls,
// which may raise (a script's byte budget) past any destructor.
void PushRecords(lua_State* L, CommandRingBuffer& ring, bool words) {
    lua_newtable(L);
    int n = 0;
    while (ring.BeginRead()) {
        const uint32_t id = ring.RecordId(), size = ring.RecordSize();
        if (id == BaseThread::CMD_NOP) {
            ring.EndRead();
            continue;
        }
        if (!words) {
            ring.EndRead();
            lua_pushnumber(L, id);
            lua_rawseti(L, -2, ++n);
            continue;
        }
        lua_newtable(L);
        lua_pushnumber(L, id);
        lua_setfield(L, -2, "id");
        lua_pushnumber(L, size);
        lua_setfield(L, -2, "size");
        lua_newtable(L);
        lua_newtable(L);
        for (int i = 1; ring.ReadLeft() >= 4; ++i) {
            uint32_t u = 0;
            float f = 0.0f;
            ring.Read(&u, 4);
            std::memcpy(&f, &u, 4);
            lua_pushnumber(L, u);
            lua_rawseti(L, -3, i);
            lua_pushnumber(L, f);
            lua_rawseti(L, -2, i);
        }
        ring.EndRead();
        lua_setfield(L, -3, "f32");
        lua_setfield(L, -2, "u32");
        lua_rawseti(L, -2, ++n);
    }
}

int SoundCommands(lua_State* L) {
    if (!gSoundEngine) return 0;
    PushRecords(L, gSoundEngine->Ring(), true);
    return 1;
}

int LoaderCommands(lua_State* L) {
    if (gResourceManager.IsRunning()) {
        lua_newtable(L);
        return 1;
    }
    PushRecords(L, gResourceManager.Ring(), false);
    return 1;
}

int ChannelTargets(lua_State* L) {
    if (!gSoundEngine) return 0;
    const ::SoundChannel& c = gSoundEngine->Channel(uint32_t(luaL_checknumber(L, 1)));
    lua_pushnumber(L, c.volumeFade.active ? c.volumeFade.to : c.volumeFade.current);
    lua_pushnumber(L, c.frequencyRatioFade.active ? c.frequencyRatioFade.to : c.frequencyRatioFade.current);
    return 2;
}

int VideoEngineObject(lua_State*) {
    if (!gVideoEngine || !gSoundEngine) return 0;
    EnsureVideo();
    gVideoEngine->UpdateFrame();
    gLua.PushUserType(gVideoEngine, "VideoEngine");
    return 1;
}

int PlayVideo(lua_State* L) {
    constexpr lua_Number kMostSteps = 400;  // 12 s of clock
    const lua_Number asked = luaL_optnumber(L, 1, kMostSteps);
    const int limit = int(asked >= 0 && asked < kMostSteps ? asked : kMostSteps);
    if (!gVideoEngine || !gSoundEngine) return 0;
    EnsureVideo();
    // The loader opens the file on its own thread: wait for the headers in real time.
    for (int i = 0; i < 20000 && gStepsLeft > 0; ++i) {
        gVideoEngine->UpdateFrame();
        const VideoPlayer* p = gVideoEngine->Player();
        if (!p || p->HeadersParsed()) break;
        usleep(1000);
    }
    int steps = 0;
    while (steps < limit && gVideoEngine->IsPlaying() && Step()) {
        gVideoEngine->UpdateFrame();
        ++steps;
    }
    lua_pushnumber(L, steps);
    return 1;
}

int Sounds(lua_State*) {
    if (!gSoundEngine) return 0;
    EnsureSound();
    EnsureMedia();
    return 0;
}

// Steps n times, leaving the loader a millisecond after each.
int StepSound(lua_State* L) {
    constexpr lua_Number kMostSteps = 400;
    const lua_Number asked = luaL_optnumber(L, 1, 1);
    const int n = int(asked >= 0 && asked < kMostSteps ? asked : kMostSteps);
    if (!gSoundStarted) return 0;
    for (int i = 0; i < n && Step(); ++i) usleep(1000);
    return 0;
}

int SoundInstances(lua_State* L) {
    int n = 0;
    for (const SoundInstanceBase* i = SoundInstanceBase::First(); i; i = i->Next()) ++n;
    lua_pushnumber(L, n);
    return 1;
}

int VideoFullScreen(lua_State* L) {
    lua_pushboolean(L, gVideoEngine && gVideoEngine->IsFullScreen());
    return 1;
}

int Voices(lua_State* L) {
    lua_newtable(L);
    audio::AudioEngine* a = gSoundStarted ? gSoundEngine->GetAudioEngine() : nullptr;
    if (!a) return 1;
    audio::VoiceDebugState states[16];  // on the stack: see PushRecords
    const uint32_t n = a->GetVoiceDebugStates(states, 16);
    for (uint32_t i = 0; i < n && i < 16; ++i) {
        lua_pushnumber(L, states[i].volume);
        lua_rawseti(L, -2, int(i + 1));
    }
    return 1;
}

}  // namespace

void OpenSoundFixture(lua_State* L) {
    gStepsLeft = kStepsPerState;
    static const luaL_Reg kFunctions[] = {{"SoundEngine", &SoundEngineObject},
                                          {"SoundCommands", &SoundCommands},
                                          {"LoaderCommands", &LoaderCommands},
                                          {"SoundChannel", &ChannelTargets},
                                          {"VideoEngine", &VideoEngineObject},
                                          {"PlayVideo", &PlayVideo},
                                          {"VideoFullScreen", &VideoFullScreen},
                                          {"Voices", &Voices},
                                          {"Sounds", &Sounds},
                                          {"StepSound", &StepSound},
                                          {"SoundInstances", &SoundInstances},
                                          {nullptr, nullptr}};
    luaL_register(L, "Fixture", kFunctions);
    lua_pop(L, 1);
}

void CloseSoundFixture() {
    if (gClock && gVideoEngine) gVideoEngine->Stop();
    if (gSoundStarted) {
        gSoundEngine->Stop();
        gSoundEngine->SetRunWithoutThread(false);
        gSoundStarted = false;
    }
    if (gLoaderStarted) {
        gResourceManager.Stop();
        gLoaderStarted = false;
    }
    if (gClock) {
        gClock->Uninstall();
        delete gClock;
        gClock = nullptr;
    }
}
