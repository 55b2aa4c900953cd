// The program's whole frame as the scene grows: the main loop's pass (events, the Game's
// tick with its script calls, the gather, the frame's submission through every pass, the
// present) on the program's own start-up, window (1280 x 720) and Game, over a generated
// scene of 0, 1,000 and 10,000 mesh entities (a box of the mesh tools' test set, one
// draw each) with a point light for every 50 of them and a spawning particle system
// (white quads facing the camera) for every 100.
//
// Each iteration is one frame: the pass is timed on the main thread, then the renderer is
// flushed and waited for; the render thread's CPU time over the frame is its render-thread
// time (render_ms, the lower tenth of the frames). CPU time holds when both threads share
// one pinned core, where the frame's wall time less the thread's idle time
// (render_busy_ms, the mean) also counts the main thread's turns. Counters: main_ms and render_ms per frame, draws and primitives per frame (the
// renderer's own counts), and the growth of the resident set over the empty scene per
// entity (rss_kb_per_entity).
//
// The drawing device is measured first; the program then runs itself again on the
// recording device (nothing rasterised, draw records off: the engine's own render-thread
// cost). There one frame of the empty and of the 10,000-entity scene is captured by the
// device's call log and replayed straight on a fresh recording device: the device calls
// the frame's draws make, with no engine in between (BM_DrawCost, in rounds alternating
// the two scenes). Printed at the end, for each device, the medians of the repetitions
// with their range: the cost per entity at 10,000 over that at 1,000 (each over the empty
// scene), on the main thread and on the render thread, which is most of the frame (goal
// for both: at most 1.25) and, on the recording device, the render thread's time per
// added draw over the replayed calls' time per added draw (goal: at most 2), beside one
// bare draw call. With --benchmark_out the recording run's rows (labelled "recording
// device") are added to the same file after the drawing run's.
//
// The meshes come from tests/support/mesh_block.py (run with python3), so the program is
// run from a build folder inside the source tree (build-release/bench/frame_bench).
// bench-link: app
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cctype>
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
#include "bench/BenchSupport.h"
#include "bench/RateReporter.h"
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
#include "game/Game.h"
#include "engine/delegate/GameDelegate.h"
#include "platform/gfx/GfxDevice.h"
#include "platform/gfx/GfxRecorder.h"
#include "render/VornexRenderer.h"
#include "scene/entities/LightEntity.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/particles/ParticleEntity.h"
#include "tests/support/ProgramStaticInit.h"

namespace {

namespace sfs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kWidth = 1280, kHeight = 720;
constexpr int kWarmUpFrames = 5;
constexpr int kEntitiesPerLight = 50;
constexpr int kEntitiesPerParticleSystem = 100;
constexpr const char* kRecordingFlag = "--frame-device=recording";

bool gRecording = false;
std::string gRoot;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// The middle value (the upper of the two middle ones for an even count).
double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    const auto at = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

// The lower tenth of the frames' times: the frame's own cost. On a machine shared with
// other work, caches and memory bandwidth taken by other processes slow some frames (the
// target-wide clears and copies most); a frame is never made faster by them.
double LowerDecile(std::vector<double> values) {
    if (values.empty()) return 0;
    const auto at = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 10);
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

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
        auto sparks = std::make_unique<ParticleTemplate>();
        sparks->definition.textureFileName = "System/White_4x4$cxy.dds";
        sparks->definition.Resolve(false);
        Register("sparks", std::move(sparks));
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
            if (i % kEntitiesPerParticleSystem == kEntitiesPerParticleSystem / 2) {
                m.LoadTranslation(x, 0.0f, z);
                if (auto* p = static_cast<ParticleEntity*>(gEntityManager->CreateEntity("sparks", nullptr, m, 0, nullptr))) {
                    p->InitTriggerActivation();
                    entities.push_back(p);
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
    double mainTime = 0, busyTime = 0, draws = 0, primitives = 0;
    std::vector<double> renderTimes;
    const uint64_t deviceDraws0 = DeviceDraws();
    for (auto _ : state) {
        const double cpu0 = benchsupport::RenderThreadCpuSeconds();
        const int64_t idle0 = gVornexRenderer.TotalIdleTime().ticks;
        const auto t0 = Clock::now();
        app::RunMainLoopPass();
        const auto t1 = Clock::now();
        gVornexRenderer.FlushCommands(true);
        const auto t2 = Clock::now();
        const double idle = Time(gVornexRenderer.TotalIdleTime().ticks - idle0).ToSeconds();
        mainTime += Seconds(t0, t1);
        renderTimes.push_back(benchsupport::RenderThreadCpuSeconds() - cpu0);
        busyTime += std::max(0.0, Seconds(t0, t2) - idle);
        draws += gVornexRenderer.DrawCalls();
        primitives += gVornexRenderer.Primitives();
        state.SetIterationTime(Seconds(t0, t2));
    }
    const double n = static_cast<double>(state.iterations());
    state.SetLabel(gRecording ? "recording device" : "drawing device");
    state.counters["main_ms"] = mainTime / n * 1e3;
    state.counters["render_ms"] = LowerDecile(renderTimes) * 1e3;
    state.counters["render_busy_ms"] = busyTime / n * 1e3;
    state.counters["draws"] = draws / n;
    state.counters["primitives"] = primitives / n;
    if (gRecording) state.counters["device_draws"] = double(DeviceDraws() - deviceDraws0) / n;
    state.counters["rss_kb_per_entity"] = count ? (resident - scene.emptyResidentKb) / count : 0;
    scene.Clear();
}
BENCHMARK(BM_Frame)->Arg(0)->Arg(1000)->Arg(10000)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

// One recording-device draw call alone, on the render thread (draw records off), with
// the state of a mesh draw in place: the floor of the render thread's cost per draw.
void BM_RecordingDrawCall(benchmark::State& state) {
    Scene& scene = TheScene();
    if (!scene.ready) {
        state.SkipWithError("the program did not start");
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
            const double t0 = benchsupport::ThreadCpuSeconds();
            for (int i = 0; i < kCalls; ++i) device->DrawIndexedPrimitive(gfx::PT_TRIANGLELIST, 0, 0, box.vertexCount, 0, 12);
            j->seconds = benchsupport::ThreadCpuSeconds() - t0;
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
    state.counters["draw_call_ns"] = seconds / (double(state.iterations()) * kCalls) * 1e9;
}

// ---- The device calls alone ----
// One frame's device calls, captured from the engine's device by its call log, are
// replayed straight on a fresh recording device of the same size: the floor of what the
// frame's draws cost the render thread with no engine in between. Every object a call
// names is copied once onto the fresh device (same kind, size, format, code), so the
// device does the same validation and bookkeeping as in the frame.
class FrameReplay {
public:
    FrameReplay() = default;
    FrameReplay(const FrameReplay&) = delete;
    FrameReplay& operator=(const FrameReplay&) = delete;
    ~FrameReplay() {
        for (auto& [from, to] : copies)
            if (to) to->Release();
        if (back) back->Release();
        if (device) device->Release();
        if (factory) factory->Release();
    }

    // Copies the log's objects onto a new device; false when the device could not be made.
    bool Prepare(gfx::Device* engine, std::vector<gfx::CallRecord> log) {
        gfx::SwapChain* chain = nullptr;
        gfx::PresentParameters params{};
        if (gfx::Failed(engine->GetSwapChain(0, &chain))) return false;
        chain->GetPresentParameters(&params);
        chain->Release();
        factory = gfx::CreateDeviceFactory(gfx::SDK_VERSION);
        if (!factory || gfx::Failed(factory->CreateDevice(0, gfx::DEVTYPE_HAL, nullptr,
                                                          gfx::CREATE_HARDWARE_VERTEXPROCESSING, &params, &device)))
            return false;
        gfx::GetRecorder(device)->SetDrawRecordMode(gfx::DrawRecordMode::Off);
        gfx::Surface* engineBack = nullptr;
        engine->GetBackBuffer(0, 0, gfx::BACKBUFFER_TYPE_MONO, &engineBack);
        device->GetBackBuffer(0, 0, gfx::BACKBUFFER_TYPE_MONO, &back);
        copies[engineBack] = back;
        back->AddRef();
        if (engineBack) engineBack->Release();
        calls = std::move(log);
        CountRepeatedSets();
        for (gfx::CallRecord& c : calls) {
            c.object = Copy(c.object);
            c.object2 = Copy(c.object2);
            if (IsDraw(c.call)) ++draws;
        }
        return true;
    }

    // Issues every captured call once, in order.
    void Run() {
        using namespace gfx;
        for (const CallRecord& c : calls) {
            const auto& a = c.args;
            const uint8_t* data = c.data.data();
            switch (c.call) {
            case CallKind::BeginScene: device->BeginScene(); break;
            case CallKind::EndScene: device->EndScene(); break;
            case CallKind::SetRenderTarget: device->SetRenderTarget(a[0], static_cast<Surface*>(c.object)); break;
            case CallKind::SetDepthStencilSurface: device->SetDepthStencilSurface(static_cast<Surface*>(c.object)); break;
            case CallKind::SetViewport: device->SetViewport(reinterpret_cast<const Viewport*>(data)); break;
            case CallKind::SetScissorRect: device->SetScissorRect(reinterpret_cast<const Rect*>(data)); break;
            case CallKind::Clear:
                device->Clear(a[0], a[0] ? reinterpret_cast<const Rect*>(data) : nullptr, a[1], a[2],
                              __builtin_bit_cast(float, a[3]), a[4]);
                break;
            case CallKind::ColorFill:
                device->ColorFill(static_cast<Surface*>(c.object), c.data.empty() ? nullptr : reinterpret_cast<const Rect*>(data), a[0]);
                break;
            case CallKind::StretchRect: {
                const auto* source = reinterpret_cast<const Rect*>(data + 1);
                const auto* dest = reinterpret_cast<const Rect*>(data + 2 + sizeof(Rect));
                device->StretchRect(static_cast<Surface*>(c.object), data[0] ? source : nullptr,
                                    static_cast<Surface*>(c.object2), data[1 + sizeof(Rect)] ? dest : nullptr,
                                    static_cast<TextureFilter>(a[0]));
                break;
            }
            case CallKind::SetRenderState: device->SetRenderState(static_cast<RenderStateType>(a[0]), a[1]); break;
            case CallKind::SetSamplerState:
                device->SetSamplerState(a[0], static_cast<SamplerStateType>(a[1]), a[2]);
                break;
            case CallKind::SetTexture: device->SetTexture(a[0], dynamic_cast<BaseTexture*>(c.object)); break;
            case CallKind::SetVertexShader: device->SetVertexShader(static_cast<VertexShader*>(c.object)); break;
            case CallKind::SetPixelShader: device->SetPixelShader(static_cast<PixelShader*>(c.object)); break;
            case CallKind::SetVertexShaderConstant:
            case CallKind::SetPixelShaderConstant: SetConstants(c); break;
            case CallKind::SetFVF: device->SetFVF(a[0]); break;
            case CallKind::SetVertexDeclaration:
                device->SetVertexDeclaration(static_cast<VertexDeclaration*>(c.object));
                break;
            case CallKind::SetStreamSource:
                device->SetStreamSource(a[0], static_cast<VertexBuffer*>(c.object), a[1], a[2]);
                break;
            case CallKind::SetStreamSourceFreq: device->SetStreamSourceFreq(a[0], a[1]); break;
            case CallKind::SetIndices: device->SetIndices(static_cast<IndexBuffer*>(c.object)); break;
            case CallKind::DrawPrimitive: device->DrawPrimitive(static_cast<PrimitiveType>(a[0]), a[1], a[2]); break;
            case CallKind::DrawIndexedPrimitive:
                device->DrawIndexedPrimitive(static_cast<PrimitiveType>(a[0]), static_cast<int32_t>(a[1]), a[2], a[3],
                                             a[4], a[5]);
                break;
            case CallKind::DrawPrimitiveUP:
                device->DrawPrimitiveUP(static_cast<PrimitiveType>(a[0]), a[1], data, a[2]);
                break;
            case CallKind::DrawIndexedPrimitiveUP:
                device->DrawIndexedPrimitiveUP(static_cast<PrimitiveType>(a[0]), a[1], a[2], a[3],
                                               data + size_t(a[1] + a[2]) * a[5], static_cast<Format>(a[4]), data,
                                               a[5]);
                break;
            default: break;
            }
        }
    }

    uint64_t Draws() const { return draws; }
    // State sets that left their state as the previous draw had it by the next draw
    // (a rebinding of what was bound, or an unbinding undone before anything drew).
    uint64_t RepeatedSets() const { return repeatedSets; }
    size_t Calls() const { return calls.size(); }

private:
    static bool IsDraw(gfx::CallKind call) {
        return call == gfx::CallKind::DrawPrimitive || call == gfx::CallKind::DrawIndexedPrimitive ||
               call == gfx::CallKind::DrawPrimitiveUP || call == gfx::CallKind::DrawIndexedPrimitiveUP;
    }

    // A state set's slot (the call and the argument that names what it sets) and value;
    // false for a call that sets no state a draw reads.
    static bool StateOf(const gfx::CallRecord& c, std::string* slot, std::string* value) {
        using gfx::CallKind;
        size_t named = 0;  // leading arguments that name the slot
        switch (c.call) {
        case CallKind::SetRenderState: case CallKind::SetTexture: case CallKind::SetStreamSource:
        case CallKind::SetStreamSourceFreq: case CallKind::SetRenderTarget: named = 1; break;
        case CallKind::SetSamplerState: named = 2; break;
        case CallKind::SetVertexShaderConstant: case CallKind::SetPixelShaderConstant: named = 4; break;
        case CallKind::SetVertexShader: case CallKind::SetPixelShader: case CallKind::SetIndices:
        case CallKind::SetVertexDeclaration: case CallKind::SetFVF: case CallKind::SetViewport:
        case CallKind::SetScissorRect: case CallKind::SetDepthStencilSurface: break;
        default: return false;
        }
        const auto bytes = [](const void* p, size_t n) { return std::string(static_cast<const char*>(p), n); };
        *slot = bytes(&c.call, 1) + bytes(c.args.data(), named * 4);
        *value = bytes(c.args.data() + named, (c.args.size() - named) * 4) + bytes(&c.object, sizeof c.object) +
                 bytes(c.data.data(), c.data.size());
        return true;
    }

    void CountRepeatedSets() {
        std::map<std::string, std::string> atDraw, now;
        std::map<std::string, uint64_t> setsSinceDraw;
        std::string slot, value;
        for (const gfx::CallRecord& c : calls) {
            if (IsDraw(c.call)) {
                for (const auto& [key, sets] : setsSinceDraw) {
                    auto before = atDraw.find(key);
                    if (before != atDraw.end() && before->second == now[key]) repeatedSets += sets;
                    atDraw[key] = now[key];
                }
                setsSinceDraw.clear();
            } else if (StateOf(c, &slot, &value)) {
                now[slot] = value;
                ++setsSinceDraw[slot];
            }
        }
    }

    void SetConstants(const gfx::CallRecord& c) {
        const uint32_t start = c.args[0], count = c.args[1];
        const bool pixel = c.args[3] != 0;
        const auto* f = reinterpret_cast<const float*>(c.data.data());
        const auto* i = reinterpret_cast<const int32_t*>(c.data.data());
        switch (static_cast<gfx::ConstantKind>(c.args[2])) {
        case gfx::ConstantKind::Float:
            pixel ? device->SetPixelShaderConstantF(start, f, count) : device->SetVertexShaderConstantF(start, f, count);
            break;
        case gfx::ConstantKind::Int:
            pixel ? device->SetPixelShaderConstantI(start, i, count) : device->SetVertexShaderConstantI(start, i, count);
            break;
        case gfx::ConstantKind::Bool:
            pixel ? device->SetPixelShaderConstantB(start, i, count) : device->SetVertexShaderConstantB(start, i, count);
            break;
        }
    }

    // The fresh device's copy of an engine object (made on first sight; null for null).
    gfx::Unknown* Copy(gfx::Unknown* from) {
        using namespace gfx;
        if (!from) return nullptr;
        auto found = copies.find(from);
        if (found != copies.end()) return found->second;
        Unknown* to = nullptr;
        SurfaceDesc d{};
        if (auto* s = dynamic_cast<Surface*>(from)) {
            s->GetDesc(&d);
            Surface* out = nullptr;
            if (d.usage & USAGE_DEPTHSTENCIL)
                device->CreateDepthStencilSurface(d.width, d.height, d.format, d.multiSampleType, d.multiSampleQuality, 0,
                                                  &out, nullptr);
            else if (d.usage & USAGE_RENDERTARGET)
                device->CreateRenderTarget(d.width, d.height, d.format, d.multiSampleType, d.multiSampleQuality, 0, &out,
                                           nullptr);
            else
                device->CreateOffscreenPlainSurface(d.width, d.height, d.format, d.pool, &out, nullptr);
            to = out;
        } else if (auto* t = dynamic_cast<Texture*>(from)) {
            t->GetLevelDesc(0, &d);
            Texture* out = nullptr;
            device->CreateTexture(d.width, d.height, t->GetLevelCount(), d.usage, d.format, d.pool, &out, nullptr);
            to = out;
        } else if (auto* cube = dynamic_cast<CubeTexture*>(from)) {
            cube->GetLevelDesc(0, &d);
            CubeTexture* out = nullptr;
            device->CreateCubeTexture(d.width, cube->GetLevelCount(), d.usage, d.format, d.pool, &out, nullptr);
            to = out;
        } else if (auto* vb = dynamic_cast<VertexBuffer*>(from)) {
            VertexBufferDesc vd{};
            vb->GetDesc(&vd);
            VertexBuffer* out = nullptr;
            device->CreateVertexBuffer(vd.size, vd.usage, vd.fvf, vd.pool, &out, nullptr);
            to = out;
        } else if (auto* ib = dynamic_cast<IndexBuffer*>(from)) {
            IndexBufferDesc id{};
            ib->GetDesc(&id);
            IndexBuffer* out = nullptr;
            device->CreateIndexBuffer(id.size, id.usage, id.format, id.pool, &out, nullptr);
            to = out;
        } else if (auto* decl = dynamic_cast<VertexDeclaration*>(from)) {
            uint32_t count = 0;
            decl->GetDeclaration(nullptr, &count);
            std::vector<VertexElement> elements(count);
            decl->GetDeclaration(elements.data(), &count);
            VertexDeclaration* out = nullptr;
            device->CreateVertexDeclaration(elements.data(), &out);
            to = out;
        } else if (auto* vs = dynamic_cast<VertexShader*>(from)) {
            std::vector<uint32_t> code = ShaderCode(vs);
            VertexShader* out = nullptr;
            device->CreateVertexShader(code.data(), uint32_t(code.size() * 4), &out);
            to = out;
        } else if (auto* ps = dynamic_cast<PixelShader*>(from)) {
            std::vector<uint32_t> code = ShaderCode(ps);
            PixelShader* out = nullptr;
            device->CreatePixelShader(code.data(), uint32_t(code.size() * 4), &out);
            to = out;
        }
        copies[from] = to;
        return to;
    }

    template <class Shader>
    static std::vector<uint32_t> ShaderCode(Shader* shader) {
        uint32_t size = 0;
        shader->GetFunction(nullptr, &size);
        std::vector<uint32_t> code((size + 3) / 4);
        shader->GetFunction(code.data(), &size);
        return code;
    }

    gfx::DeviceFactory* factory = nullptr;
    gfx::Device* device = nullptr;
    gfx::Surface* back = nullptr;
    std::map<gfx::Unknown*, gfx::Unknown*> copies;
    std::vector<gfx::CallRecord> calls;
    uint64_t draws = 0;
    uint64_t repeatedSets = 0;
};

// One frame's device calls at the current scene, captured by the device's call log.
std::unique_ptr<FrameReplay> CaptureFrame() {
    gfx::Device* engine = gVornexRenderer.Device();
    gfx::Recorder* recorder = gfx::GetRecorder(engine);
    if (!recorder) return nullptr;
    gVornexRenderer.FlushCommands(true);
    recorder->SetCallLogging(true);
    const uint64_t dropped = recorder->DroppedCalls();
    app::RunMainLoopPass();
    gVornexRenderer.FlushCommands(true);
    auto replay = std::make_unique<FrameReplay>();
    const bool ready = replay->Prepare(engine, recorder->CallLog());
    std::printf("frame_bench (recording device): a captured frame of %zu device calls, %llu of them dropped by the "
                "device as repeats of the state it held\n",
                replay->Calls(), static_cast<unsigned long long>(recorder->DroppedCalls() - dropped));
    recorder->SetCallLogging(false);
    return ready ? std::move(replay) : nullptr;
}

// The render thread's cost per draw against the device calls alone, in rounds that
// alternate the empty scene and the 10,000-entity one: each round measures both scenes'
// frames and both captured call sequences within a second or two, so a change in what
// else the machine runs moves all four together. Per round: the render thread's CPU time
// and the replay's, each the lower tenth of the phase's frames, and per added draw their
// differences between the two scenes; reported: the median round.

void BM_DrawCost(benchmark::State& state) {
    Scene& scene = TheScene();
    if (!scene.ready) {
        state.SkipWithError("the program did not start");
        return;
    }
    constexpr int kRounds = 5, kFramesPerPhase = 40, kCounts[2] = {0, 10000};
    std::unique_ptr<FrameReplay> replays[2];
    for (int phase = 0; phase < 2; ++phase) {
        scene.Populate(kCounts[phase]);
        for (int i = 0; i < kWarmUpFrames; ++i) app::RunMainLoopPass();
        replays[phase] = CaptureFrame();
        if (!replays[phase]) {
            state.SkipWithError("the frame's calls were not captured");
            return;
        }
    }
    const double addedDraws = double(replays[1]->Draws()) - double(replays[0]->Draws());
    std::vector<double> render, replay, ratio;
    for (auto _ : state) {
        const auto start = Clock::now();
        for (int round = 0; round < kRounds; ++round) {
            double engine[2], alone[2];
            for (int phase = 0; phase < 2; ++phase) {
                scene.Populate(kCounts[phase]);
                for (int i = 0; i < kWarmUpFrames; ++i) app::RunMainLoopPass();
                gVornexRenderer.FlushCommands(true);
                std::vector<double> frames, calls;
                for (int i = 0; i < kFramesPerPhase; ++i) {
                    const double cpu0 = benchsupport::RenderThreadCpuSeconds();
                    app::RunMainLoopPass();
                    gVornexRenderer.FlushCommands(true);
                    frames.push_back(benchsupport::RenderThreadCpuSeconds() - cpu0);
                    const double t0 = benchsupport::ThreadCpuSeconds();
                    replays[phase]->Run();
                    calls.push_back(benchsupport::ThreadCpuSeconds() - t0);
                }
                engine[phase] = LowerDecile(frames);
                alone[phase] = LowerDecile(calls);
            }
            render.push_back((engine[1] - engine[0]) / addedDraws);
            replay.push_back((alone[1] - alone[0]) / addedDraws);
            ratio.push_back(replay.back() > 0 ? render.back() / replay.back() : 0.0);
        }
        state.SetIterationTime(Seconds(start, Clock::now()));
    }
    scene.Clear();
    state.counters["render_ns_per_draw"] = Median(render) * 1e9;
    state.counters["calls_alone_ns_per_draw"] = Median(replay) * 1e9;
    state.counters["ratio"] = Median(ratio);
    state.counters["calls"] = double(replays[1]->Calls());
    state.counters["repeated_sets"] = double(replays[1]->RepeatedSets());
}


// The cost per entity at 10,000 over that at 1,000, each over the empty scene, of one
// per-frame counter: one ratio per repetition.
benchsupport::Spread Scaling(const benchsupport::RateReporter& r, const char* counter) {
    const std::vector<double> empty = r.Values("BM_Frame/0", counter), k1 = r.Values("BM_Frame/1000", counter),
                              k10 = r.Values("BM_Frame/10000", counter);
    std::vector<double> per1, per10;
    for (size_t i = 0; i < empty.size() && i < k1.size() && i < k10.size(); ++i) {
        per1.push_back((k1[i] - empty[i]) / 1000.0);
        per10.push_back((k10[i] - empty[i]) / 10000.0);
    }
    return benchsupport::RatioSpread(per10, per1);
}

void PrintSummary(const benchsupport::RateReporter& r) {
    const std::string device = gRecording ? "recording" : "drawing";
    if (!r.Values("BM_DrawCost", "ratio").empty()) {
        std::printf("frame_bench (recording device): render thread %.0f ns per added draw, the frame's device calls "
                    "alone %.0f ns (%.0f calls at 10,000, %.0f of them repeating the state of the draw before), "
                    "medians\n",
                    r.Median("BM_DrawCost", "render_ns_per_draw"), r.Median("BM_DrawCost", "calls_alone_ns_per_draw"),
                    r.Median("BM_DrawCost", "calls"), r.Median("BM_DrawCost", "repeated_sets"));
        benchsupport::PrintFigure("frame_bench (recording device): render thread per added draw / the calls alone",
                                  r.Of("BM_DrawCost", "ratio"), "at most 2");
        const double bare = r.Median("BM_RecordingDrawCall", "draw_call_ns");
        if (bare > 0)
            std::printf("frame_bench (recording device): one bare draw call %.0f ns; render thread per draw over it "
                        "%.2f (medians)\n",
                        bare, r.Median("BM_DrawCost", "render_ns_per_draw") / bare);
    }
    for (int count : {0, 1000, 10000}) {
        const std::string name = "BM_Frame/" + std::to_string(count);
        if (r.Values(name, "main_ms").empty()) continue;
        std::printf("frame_bench (%s device, %d entities): main %.3f ms, render %.3f ms, %.0f draws, %.0f primitives, "
                    "%.2f kB resident per entity (medians)\n",
                    device.c_str(), count, r.Median(name, "main_ms"), r.Median(name, "render_ms"),
                    r.Median(name, "draws"), r.Median(name, "primitives"), r.Median(name, "rss_kb_per_entity"));
    }
    if (r.Values("BM_Frame/0", "main_ms").empty() || r.Values("BM_Frame/10000", "main_ms").empty()) return;
    if (!r.Values("BM_Frame/1000", "main_ms").empty()) {
        benchsupport::PrintFigure(
            ("frame_bench (" + device + " device): main-thread cost per entity at 10,000 / at 1,000").c_str(),
            Scaling(r, "main_ms"), "at most 1.25");
        benchsupport::PrintFigure(
            ("frame_bench (" + device + " device): render-thread cost per entity at 10,000 / at 1,000").c_str(),
            Scaling(r, "render_ms"), "at most 1.25");
    }
    // What the 10,000-entity frame adds over the empty one on the render thread, per
    // device draw it adds (the empty frame's clears and copies of full-size targets are
    // the device's own work).
    const double added = r.Median("BM_Frame/10000", "device_draws") - r.Median("BM_Frame/0", "device_draws");
    if (gRecording && added > 0) {
        const double perDraw = (r.Median("BM_Frame/10000", "render_ms") - r.Median("BM_Frame/0", "render_ms")) / added;
        std::printf("frame_bench (recording device): %.0f device draws per frame at 10,000 (%.0f empty); "
                    "render-thread time per added draw %.0f ns (medians)\n",
                    r.Median("BM_Frame/10000", "device_draws"), r.Median("BM_Frame/0", "device_draws"), perDraw * 1e6);
    }
}

// The recording run writes its rows to a file of its own (named after the drawing run's
// --benchmark_out), which are then added to the drawing run's file: JSON rows join its
// "benchmarks" array, CSV rows follow its rows (the header once), console text follows.
void AppendRows(const std::string& to, const std::string& from, const std::string& format) {
    std::ifstream in(from, std::ios::binary);
    std::string rows((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ifstream own(to, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(own)), std::istreambuf_iterator<char>());
    own.close();
    if (format == "json") {
        const size_t open = rows.find("\"benchmarks\": [");
        const size_t close = rows.rfind(']');
        const size_t end = text.rfind(']');
        if (open == std::string::npos || close == std::string::npos || end == std::string::npos || close < open) {
            std::fprintf(stderr, "frame_bench: the recording run's rows were not found in %s\n", from.c_str());
            return;
        }
        std::string added = rows.substr(open + 15, close - open - 15);
        while (!added.empty() && std::isspace(static_cast<unsigned char>(added.back()))) added.pop_back();
        if (added.find('{') == std::string::npos) return;
        const bool hadRows = text.substr(0, end).find('{', text.find("\"benchmarks\": [")) != std::string::npos;
        size_t at = end;
        while (at > 0 && std::isspace(static_cast<unsigned char>(text[at - 1]))) --at;
        text.insert(at, (hadRows ? "," : "") + added);
    } else if (format == "csv") {
        // The header is every line before the first row (its first line names the fields).
        const size_t header = rows.find("\nname,");
        const size_t first = header == std::string::npos ? 0 : rows.find('\n', header + 1) + 1;
        text += rows.substr(first);
    } else {
        text += rows;
    }
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    out << text;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], kRecordingFlag) == 0) gRecording = true;
        else args.push_back(argv[i]);
    }
    // Read before Initialize, which takes the benchmark flags out of the list.
    std::string out, format = "json";
    for (char* a : args) {
        if (std::strncmp(a, "--benchmark_out=", 16) == 0) out = a + 16;
        if (std::strncmp(a, "--benchmark_out_format=", 23) == 0) format = a + 23;
    }
    // The device calls alone are measured on the recording device only.
    if (gRecording) {
        benchmark::RegisterBenchmark("BM_RecordingDrawCall", BM_RecordingDrawCall)
            ->UseManualTime()
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark("BM_DrawCost", BM_DrawCost)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kSecond);
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintSummary(reporter);
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
        const std::string recordingOut = out + ".recording";
        std::string command = "'" + sfs::canonical("/proc/self/exe").string() + "' " + kRecordingFlag;
        for (int i = 1; i < argc; ++i) {
            const bool isOut = !out.empty() && std::strncmp(argv[i], "--benchmark_out=", 16) == 0;
            command += " '" + (isOut ? "--benchmark_out=" + recordingOut : std::string(argv[i])) + "'";
        }
        const bool ran = std::system(command.c_str()) == 0;
        if (!out.empty()) {
            AppendRows(out, recordingOut, format);
            sfs::remove(recordingOut, failed);
        }
        return ran ? 0 : 1;
    }
    return 0;
}
