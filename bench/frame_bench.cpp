// The program's whole frame as the scene grows: the main loop's pass (events, the Game's
// tick with its script calls, the gather, the frame's submission through every pass, the
// present) on the program's own start-up, window (1280 x 720) and Game, over a generated
// scene of 0, 1,000 and 10,000 mesh entities (a box of the mesh tools' test set, one
// draw each) with a point light for every 50 of them. Particle systems are left out:
// the data they need has no generator here yet.
//
// Each iteration is one frame: the pass is timed on the main thread, then the renderer is
// flushed and waited for, and the render thread's busy time over the frame (the frame's
// wall time less the thread's idle time) is its render-thread time. Counters: main_ms and
// render_ms per frame, draws and primitives per frame (the renderer's own counts), and
// the growth of the resident set over the empty scene per entity (rss_kb_per_entity).
//
// The drawing device is measured first; the program then runs itself again on the
// recording device (nothing rasterised, draw records off: the engine's own render-thread
// cost), where the render thread's time per draw is set beside one recording-device draw
// call alone. Printed at the end: main-thread cost per entity at 10,000 over that at
// 1,000 (goal: at most 1.25) and, on the recording device, render-thread time per draw
// over the bare draw call (goal: at most 2).
//
// The meshes come from tests/support/mesh_block.py (run with python3), so the program is
// run from a build folder inside the source tree (build-release/bench/frame_bench).
// bench-link: app
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/MainWindow.h"
#include "core/BoundedReader.h"
#include "core/config/GameConfig.h"
#include "core/config/ProjectConfig.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/RTTIProperty.h"
#include "core/rtti/SolidBlob.h"
#include "engine/VornexEngine.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "engine/game/Game.h"
#include "engine/game/GameDelegate.h"
#include "platform/gfx/GfxDevice.h"
#include "platform/gfx/GfxRecorder.h"
#include "render/VornexRenderer.h"
#include "scene/entities/LightEntity.h"
#include "scene/mesh/MeshTemplate.h"
#include "tests/support/ProgramStaticInit.h"

namespace {

namespace sfs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kWidth = 1280, kHeight = 720;
constexpr int kWarmUpFrames = 5;
constexpr int kEntitiesPerLight = 50;
constexpr const char* kRecordingFlag = "--frame-device=recording";

bool gRecording = false;
std::string gRoot;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// The resident set in kB ("VmRSS" of /proc/self/status).
double ResidentKb() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6);
    return 0;
}

std::vector<uint8_t> ReadAll(const sfs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The generated data set: the build's shader data and system textures, a project
// configuration, a private user folder; the settings of a first windowed run.
void WriteDataSet() {
    char pattern[] = "/tmp/frame_bench_XXXXXX";
    gRoot = mkdtemp(pattern);
    const sfs::path build = sfs::canonical("/proc/self/exe").parent_path().parent_path();
    const std::string data = gRoot + "/data";
    for (const char* kind : {"animations", "common", "scenes", "sounds", "templates", "voices", "videos", "textures"})
        sfs::create_directories(data + "/" + kind);
    sfs::copy(build / "data/common/Shaders", data + "/common/Shaders", sfs::copy_options::recursive);
    sfs::copy(build / "data/textures/System", data + "/textures/System", sfs::copy_options::recursive);
    sfs::create_directories(gRoot + "/user");
    setenv("XDG_DATA_HOME", (gRoot + "/user").c_str(), 1);
    unsetenv("ONLINE_BROKER_DIR");
    unsetenv("ONLINE_DATA_DIR");
    ProjectConfig project;
    std::vector<uint8_t> bytes;
    SolidSerializeToBuffer(project, bytes, 0);
    std::ofstream(data + "/common/Project.ConfigBin", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    GameConfig& c = *gGameConfig;
    c.useContainerFiles = false;
    c.fullScreenMode = false;
    c.windowWidth = kWidth;
    c.windowHeight = kHeight;
    c.rendererConfig.gfxQualityLevel = 3;
    c.rendererConfig.semiResolutionScreenScale = 1.0f;
    const RTTIProperty* repository = EngineConfig::RegisterClass()->FindProperty("Repository path");
    if (repository) repository->FromString(gGameConfig, data.c_str());
}

// A box mesh written by the mesh tools' test generator.
std::vector<uint8_t> BoxMeshBlock() {
    const sfs::path source = sfs::canonical("/proc/self/exe").parent_path().parent_path().parent_path();
    const std::string out = gRoot + "/box.bin";
    const std::string script = "import sys; sys.path.insert(0, '" + (source / "tests/support").string() +
                               "'); import mesh_block as m; open('" + out +
                               "', 'wb').write(m.write((lambda b: (b['rd'].update({'render': [0, 0, 1, 0, 1, 0, 0, "
                               "0]}), b)[1])(m.box_mesh(presets=[{'name': 'Default', 'parts': [{'count': 12}]}]))))";
    if (std::system(("python3 -c \"" + script + "\"").c_str()) != 0) return {};
    return ReadAll(out);
}

struct Scene {
    GameDelegate delegate;
    std::vector<std::unique_ptr<EntityTemplate>> templates;
    std::vector<EntityTemplateStub*> stubs;
    std::vector<Entity*> entities;
    double emptyResidentKb = 0;
    bool ready = false;

    void Register(const char* name, std::unique_ptr<EntityTemplate> t) {
        t->SetName(name);
        auto* s = new EntityTemplateStub();
        s->SetFileName(name);
        s->typeId = t->typeId;
        s->SetTemplate(t.get());
        gEntityTemplateRegistry.Root()->AddStub(s);
        stubs.push_back(s);
        templates.push_back(std::move(t));
    }

    bool Start() {
        RunProgramStaticInit();
        gfx::SelectDeviceKind(gRecording ? gfx::DeviceKind::Recording : gfx::DeviceKind::Drawing);
        WriteDataSet();
        app::ResetMainWindowState();
        if (!app::CreateMainWindow(wnd::kShowNormal, "Frame Bench")) return false;
        app::StartGame(&delegate, nullptr, 0);
        for (int i = 0; i < kWarmUpFrames; ++i) app::RunMainLoopPass();
        if (gfx::Recorder* recorder = gfx::GetRecorder(gVornexRenderer.Device()))
            recorder->SetDrawRecordMode(gfx::DrawRecordMode::Off);
        const std::vector<uint8_t> block = BoxMeshBlock();
        auto mesh = std::make_unique<MeshTemplate>();
        BoundedReader in(block.data(), block.size());
        if (block.empty() || !mesh->ReadBinaryData(in, 50)) return false;
        Register("box", std::move(mesh));
        auto light = std::make_unique<LightTemplate>();
        light->lightType = 0;  // point
        Register("lamp", std::move(light));
        gVornexRenderer.FlushCommands(true);
        emptyResidentKb = ResidentKb();
        return true;
    }

    // count boxes on a square grid in front of the camera, 3 units apart, and their lamps.
    void Populate(int count) {
        Clear();
        const int side = count > 0 ? static_cast<int>(std::ceil(std::sqrt(double(count)))) : 0;
        for (int i = 0; i < count; ++i) {
            Matrix m;
            const float x = float(i % side - side / 2) * 3.0f, z = 20.0f + float(i / side) * 3.0f;
            m.LoadTranslation(x, -2.0f, z);
            if (Entity* e = gEntityManager->CreateEntity("box", nullptr, m, 0, nullptr)) entities.push_back(e);
            if (i % kEntitiesPerLight == 0) {
                m.LoadTranslation(x, 2.0f, z);
                if (auto* l = static_cast<LightEntity*>(gEntityManager->CreateEntity("lamp", nullptr, m, 0, nullptr))) {
                    l->startFalloff = 2.0f;
                    l->endFalloff = 8.0f;
                    l->OnPropertyChanged("End falloff");
                    entities.push_back(l);
                }
            }
        }
        gVornexRenderer.FlushCommands(true);
    }

    void Clear() {
        for (Entity* e : entities) gEntityManager->DestroyEntity(e);
        entities.clear();
        gVornexRenderer.FlushCommands(true);
    }
};

Scene& TheScene() {
    static Scene* scene = [] {
        auto* s = new Scene();
        s->ready = s->Start();
        if (!s->ready) std::fprintf(stderr, "frame_bench: the program did not start\n");
        return s;
    }();
    return *scene;
}

struct Figures {
    double mainSeconds = 0, renderSeconds = 0, draws = 0, primitives = 0, deviceDraws = 0, rssPerEntityKb = 0;
};

// Every draw call the recording device took (the shadow pass's depth draws included,
// which the renderer's own count leaves out); 0 on the drawing device.
uint64_t DeviceDraws() {
    gfx::Recorder* recorder = gfx::GetRecorder(gVornexRenderer.Device());
    if (!recorder) return 0;
    uint64_t n = 0;
    for (gfx::CallKind kind : {gfx::CallKind::DrawPrimitive, gfx::CallKind::DrawIndexedPrimitive,
                               gfx::CallKind::DrawPrimitiveUP, gfx::CallKind::DrawIndexedPrimitiveUP})
        n += recorder->CallCount(kind);
    return n;
}
std::map<int, Figures> gFigures;

void BM_Frame(benchmark::State& state) {
    Scene& scene = TheScene();
    if (!scene.ready) {
        state.SkipWithError("the program did not start");
        return;
    }
    const int count = static_cast<int>(state.range(0));
    scene.Populate(count);
    for (int i = 0; i < kWarmUpFrames; ++i) app::RunMainLoopPass();
    gVornexRenderer.FlushCommands(true);
    const double resident = ResidentKb();
    double mainTime = 0, renderTime = 0, draws = 0, primitives = 0;
    const uint64_t deviceDraws0 = DeviceDraws();
    for (auto _ : state) {
        const int64_t idle0 = gVornexRenderer.TotalIdleTime().ticks;
        const auto t0 = Clock::now();
        app::RunMainLoopPass();
        const auto t1 = Clock::now();
        gVornexRenderer.FlushCommands(true);
        const auto t2 = Clock::now();
        const double idle = Time(gVornexRenderer.TotalIdleTime().ticks - idle0).ToSeconds();
        const double main = Seconds(t0, t1), render = std::max(0.0, Seconds(t0, t2) - idle);
        mainTime += main;
        renderTime += render;
        draws += gVornexRenderer.DrawCalls();
        primitives += gVornexRenderer.Primitives();
        state.SetIterationTime(Seconds(t0, t2));
    }
    const double n = static_cast<double>(state.iterations());
    Figures f;
    f.mainSeconds = mainTime / n;
    f.renderSeconds = renderTime / n;
    f.draws = draws / n;
    f.primitives = primitives / n;
    f.deviceDraws = double(DeviceDraws() - deviceDraws0) / n;
    f.rssPerEntityKb = count ? (resident - scene.emptyResidentKb) / count : 0;
    gFigures[count] = f;
    state.counters["main_ms"] = f.mainSeconds * 1e3;
    state.counters["render_ms"] = f.renderSeconds * 1e3;
    state.counters["draws"] = f.draws;
    state.counters["primitives"] = f.primitives;
    if (gRecording) state.counters["device_draws"] = f.deviceDraws;
    state.counters["rss_kb_per_entity"] = f.rssPerEntityKb;
    scene.Clear();
}
BENCHMARK(BM_Frame)->Arg(0)->Arg(1000)->Arg(10000)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

// One recording-device draw call alone, on the render thread (draw records off), with
// the state of a mesh draw in place: the floor of the render thread's cost per draw.
double gDrawCallSeconds = 0;

void BM_RecordingDrawCall(benchmark::State& state) {
    Scene& scene = TheScene();
    if (!scene.ready || !gRecording) {
        state.SkipWithError("recording device only");
        return;
    }
    constexpr int kCalls = 10000;
    double seconds = 0;
    for (auto _ : state) {
        struct Job {
            double seconds = 0;
        } job;
        RenderCallFunction call = [](uint32_t, CommandRingBuffer& r) {
            Job* j = nullptr;
            if (!r.ReadValue(j)) return;
            gfx::Device* device = gVornexRenderer.Device();
            const BuiltInMesh& box = gVornexRenderer.GetBuiltInMesh(MESH_UNIT_BOX);
            device->BeginScene();
            device->SetFVF(gfx::FVF_XYZ);
            device->SetStreamSource(0, box.vertices, 0, box.stride);
            device->SetIndices(box.indices[0]);
            const auto t0 = Clock::now();
            for (int i = 0; i < kCalls; ++i) device->DrawIndexedPrimitive(gfx::PT_TRIANGLELIST, 0, 0, box.vertexCount, 0, 12);
            j->seconds = Seconds(t0, Clock::now());
            device->EndScene();
        };
        Job* p = &job;
        gVornexRenderer.BeginCommand(TASK_CALL, sizeof call + sizeof(uintptr_t) + sizeof p);
        gVornexRenderer.Ring().WriteValue(call);
        gVornexRenderer.Ring().WriteValue(uintptr_t(0));
        gVornexRenderer.Ring().WriteValue(p);
        gVornexRenderer.FlushCommands(true);
        seconds += job.seconds;
        state.SetIterationTime(job.seconds);
    }
    gDrawCallSeconds = seconds / (double(state.iterations()) * kCalls);
    state.counters["draw_call_ns"] = gDrawCallSeconds * 1e9;
}
BENCHMARK(BM_RecordingDrawCall)->UseManualTime()->Unit(benchmark::kMicrosecond);

void PrintSummary() {
    const char* device = gRecording ? "recording" : "drawing";
    for (const auto& [count, f] : gFigures)
        std::printf("frame_bench (%s device, %d entities): main %.3f ms, render %.3f ms, %.0f draws, %.0f primitives, "
                    "%.2f kB resident per entity\n",
                    device, count, f.mainSeconds * 1e3, f.renderSeconds * 1e3, f.draws, f.primitives, f.rssPerEntityKb);
    const auto empty = gFigures.find(0), k1 = gFigures.find(1000), k10 = gFigures.find(10000);
    if (empty != gFigures.end() && k1 != gFigures.end() && k10 != gFigures.end()) {
        const double per1 = (k1->second.mainSeconds - empty->second.mainSeconds) / 1000.0;
        const double per10 = (k10->second.mainSeconds - empty->second.mainSeconds) / 10000.0;
        std::printf("frame_bench (%s device): main-thread cost per entity %.2f us at 1,000, %.2f us at 10,000, "
                    "ratio %.2f (goal: at most 1.25)\n",
                    device, per1 * 1e6, per10 * 1e6, per1 > 0 ? per10 / per1 : 0.0);
        // The render thread's cost of the scene's draws: what the 10,000-entity frame adds
        // over the empty one (whose clears and copies of full-size targets are the
        // device's own work), per device draw it adds.
        const double added = k10->second.deviceDraws - empty->second.deviceDraws;
        if (gRecording && gDrawCallSeconds > 0 && added > 0) {
            const double perDraw = (k10->second.renderSeconds - empty->second.renderSeconds) / added;
            std::printf("frame_bench (recording device): %.0f device draws per frame at 10,000 (%.0f empty); render-thread "
                        "time per added draw %.0f ns, one draw call alone %.0f ns, ratio %.2f (goal: at most 2)\n",
                        k10->second.deviceDraws, empty->second.deviceDraws, perDraw * 1e9, gDrawCallSeconds * 1e9,
                        perDraw / gDrawCallSeconds);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], kRecordingFlag) == 0) gRecording = true;
        else args.push_back(argv[i]);
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    benchmark::RunSpecifiedBenchmarks();
    PrintSummary();
    std::fflush(stdout);
    // Shutting the program down the way its loop does.
    if (TheScene().ready) {
        TheScene().Clear();
        gGame->Quit();
        app::RunMainLoopPass();
    }
    std::error_code failed;
    sfs::remove_all(gRoot, failed);
    benchmark::Shutdown();
    // The same run on the recording device, in a process of its own (the device kind is
    // chosen once, before the renderer starts).
    if (!gRecording) {
        std::string command = "'" + sfs::canonical("/proc/self/exe").string() + "' " + kRecordingFlag;
        for (int i = 1; i < argc; ++i) command += std::string(" '") + argv[i] + "'";
        return std::system(command.c_str()) == 0 ? 0 : 1;
    }
    return 0;
}
