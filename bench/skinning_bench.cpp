// Pose evaluation of 1,000 animated entities (60 nodes, 50 bones, two clips cross-fading
// on one channel) into their bone palettes, in one run: MeshAnimationController::EvaluatePose,
// and a plain evaluation here that keeps every channel's last key position per entity (as
// a plain player does), walks on from it once per channel and frame, and composes the same
// matrices. Prints both rates (entities a second) and the median of their ratio over the
// repetitions (goal: the controller at least as fast).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/RateReporter.h"
#include "core/fs/FileSystem.h"
#include "core/math/MathHelpers.h"
#include "render/resources/ResourceAnimation.h"
#include "scene/animation/MeshAnimationController.h"
#include "scene/animation/XSIAnimation.h"
#include "scene/mesh/MeshData.h"
#include "tests/support/ProgramStaticInit.h"

namespace {

constexpr int kEntities = 1000;
constexpr uint32_t kNodes = 60;
constexpr uint32_t kBones = 50;
constexpr int kKeys = 24;

void Put(std::string& out, const void* p, size_t n) { out.append(static_cast<const char*>(p), n); }
template <class T>
void Put(std::string& out, T v) {
    Put(out, &v, sizeof v);
}

// A clip for every node: kKeys rotation and translation keys, one scale key, spread over
// the progress; the boxes span [-1, 1] (t: [0, 1]).
std::string ClipFile(uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> q(-20000, 20000);
    std::string out;
    Put<uint32_t>(out, kAnimationFileMagic);
    Put<uint32_t>(out, kAnimationFileVersion);
    Put<uint64_t>(out, 0);
    Put<uint32_t>(out, kNodes);
    for (uint32_t n = 0; n < kNodes; ++n) {
        const std::string name = "n" + std::to_string(n);
        Put<uint32_t>(out, uint32_t(name.size()));
        Put(out, name.data(), name.size());
        Put<uint16_t>(out, kKeys);
        Put<uint16_t>(out, kKeys);
        Put<uint16_t>(out, 1);
    }
    Put<uint32_t>(out, kNodes * (2 * kKeys + 1));
    for (uint32_t n = 0; n < kNodes; ++n) {
        for (int c = 0; c < 2; ++c)
            for (int k = 0; k < kKeys; ++k) {
                const int16_t t = int16_t(-32768 + (65535 * k) / (kKeys - 1));
                const int16_t key[4] = {int16_t(q(rng) / (c == 0 ? 3 : 1)), int16_t(q(rng) / (c == 0 ? 3 : 1)),
                                        int16_t(q(rng) / (c == 0 ? 3 : 1)), t};
                Put(out, key, sizeof key);
            }
        const int16_t scale[4] = {32767, 32767, 32767, -32768};
        Put(out, scale, sizeof scale);
    }
    for (int c = 0; c < 3; ++c) {
        const float box[8] = {-1, -1, -1, 0, 1, 1, 1, 1};
        Put(out, box, sizeof box);
    }
    Put<float>(out, 2.0f);
    return out;
}

Matrix HierarchyMatrix(const MeshHierarchy& h, uint32_t index) {
    const float* f = h.matrices.data() + size_t(index) * 16;
    return Matrix(Vector(f[0], f[1], f[2], f[3]), Vector(f[4], f[5], f[6], f[7]), Vector(f[8], f[9], f[10], f[11]),
                  Vector(f[12], f[13], f[14], f[15]));
}

struct Scene {
    Scene() {
        RunProgramStaticInit();
        char pattern[] = "/tmp/skinning_bench_XXXXXX";
        root = mkdtemp(pattern);
        gFileSystem.MountDirectory("animations", root.c_str());
        for (uint32_t c = 0; c < 2; ++c) {
            std::ofstream(root + "/clip" + std::to_string(c) + ".bin", std::ios::binary) << ClipFile(c + 1);
            clips[c] = std::make_unique<ResourceAnimation>(("clip" + std::to_string(c)).c_str());
            clips[c]->LoadResource();
        }
        std::mt19937 rng(5);
        std::uniform_real_distribution<float> u(-1, 1);
        for (uint32_t n = 0; n < kNodes; ++n) {
            const uint8_t parent = n == 0 ? 255 : uint8_t((n - 1) / 2);
            hierarchy.nodes.push_back({NameString(("n" + std::to_string(n)).c_str()), parent,
                                       uint8_t(n < kBones ? n : 255)});
        }
        hierarchy.boneCount = kBones;
        hierarchy.matrices.resize(size_t(kNodes + kBones) * 16);
        for (uint32_t i = 0; i < kNodes + kBones; ++i) {
            Matrix m;
            m.LoadYRotation(u(rng) * 90);
            m.r[3] = Vector(u(rng), u(rng), u(rng), 1);
            std::memcpy(&hierarchy.matrices[size_t(i) * 16], &m, 64);
        }
        hierarchy.treeNodes.push_back({NameString("root"), 0, kNodes});
        for (int e = 0; e < kEntities; ++e) {
            controllers.push_back(std::make_unique<MeshAnimationController>(hierarchy));
            for (uint32_t c = 0; c < 2; ++c) {
                AnimationParams p;
                p.Flags = ANIMFLAG_LOOP | ANIMFLAG_KEEPOTHERS;
                p.AttackTime = 0.0f;
                p.StartTimeOffset = 0.001f * e;
                auto* a = new XSIAnimation(1, clips[c].get(), p, 2.0f);
                a->SetCustomClock(&clock);
                controllers.back()->AddAnimation(0, a);
                a->weight.current = c == 0 ? 0.7f : 0.3f;
            }
        }
    }
    ~Scene() {
        controllers.clear();
        clips[0].reset();
        clips[1].reset();
        gFileSystem.UnmountAll();
        std::filesystem::remove_all(root);
    }
    std::string root;
    std::unique_ptr<ResourceAnimation> clips[2];
    MeshHierarchy hierarchy;
    std::vector<std::unique_ptr<MeshAnimationController>> controllers;
    GameTimer clock;
};

Scene& TheScene() {
    static Scene scene;
    return scene;
}

// ---- The plain evaluation ------------------------------------------------------------

Vector Decode(const AnimationKey& k, const BoundingBox4& box) {
    const Vector v = DequantizeInt16Vector(Vector(k.x, k.y, k.z, k.t)) * 0.5f + Vector(0.5f, 0.5f, 0.5f, 0.5f);
    return Vector((1 - v.x) * box.min.x + v.x * box.max.x, (1 - v.y) * box.min.y + v.y * box.max.y,
                  (1 - v.z) * box.min.z + v.z * box.max.z, (1 - v.w) * box.min.w + v.w * box.max.w);
}

// The key position of a channel at progress p: the first key whose time is past p, found
// by walking on from where the channel's cursor was last frame, as a player that keeps its
// place does (progress moves on a little each frame; after a loop the walk starts over).
uint32_t Locate(const AnimationKey* keys, uint32_t count, const BoundingBox4& box, float p, uint16_t& cursor) {
    const float span = box.max.w - box.min.w;
    const float x = (p - box.min.w) * 2.0f / span - 1.0f;
    const int32_t q = x > 0 ? int32_t(x * 32767.0f) : int32_t(x * 32768.0f);
    uint32_t i = cursor;
    if (i > count || (i > 0 && keys[i - 1].t > q)) i = 0;  // looped (or never placed)
    while (i < count && keys[i].t <= q) ++i;
    cursor = static_cast<uint16_t>(i);
    return i;
}

// The channel's value at progress p (looping) from its key position i: the key before p in
// a, the key after it in b, and the blend between them in s.
void Sample(const AnimationKey* keys, uint32_t count, const BoundingBox4& box, float p, uint32_t i, Vector& a,
            Vector& b, float& s) {
    s = 0.0f;
    if (i == 0 || i == count) {
        a = Decode(keys[count - 1], box);
        b = Decode(keys[0], box);
        const float wrap = (1 - a.w) + b.w;
        s = wrap != 0 ? (i == 0 ? p + 1 - a.w : p - a.w) / wrap : 0.0f;
        return;
    }
    a = Decode(keys[i - 1], box);
    b = Decode(keys[i], box);
    s = b.w != a.w ? (p - a.w) / (b.w - a.w) : 0.0f;
}

// One entity's key positions: per clip, node and channel (rotation, translation).
using Cursors = std::vector<uint16_t>;

void PlainPose(const MeshHierarchy& h, const ResourceAnimation* const clips[2], const float progress[2],
               const float weights[2], uint16_t* cursors, Matrix* nodes, float* palette) {
    for (uint32_t n = 0; n < kNodes; ++n) {
        Quaternion r;
        Vector t, sc;
        float sum = 0;
        for (int c = 0; c < 2; ++c) {
            const AnimationClipData& clip = clips[c]->Clip();
            const AnimationKey* keys = clip.Keys() + size_t(n) * (2 * kKeys + 1);
            uint16_t* cursor = cursors + (size_t(c) * kNodes + n) * 2;
            float s;
            Vector ra, rb;
            Sample(keys, kKeys, clip.ChannelBox(0), progress[c],
                   Locate(keys, kKeys, clip.ChannelBox(0), progress[c], cursor[0]), ra, rb, s);
            auto rot = [](const Vector& v) {
                const float rest = 1 - v.x * v.x - v.y * v.y - v.z * v.z;
                return Quaternion(v.x, v.y, v.z, rest > 0 ? std::sqrt(rest) : 0);
            };
            Quaternion qr;
            qr.Slerp(rot(ra), rot(rb), s);
            Vector ta, tb;
            Sample(keys + kKeys, kKeys, clip.ChannelBox(1), progress[c],
                   Locate(keys + kKeys, kKeys, clip.ChannelBox(1), progress[c], cursor[1]), ta, tb, s);
            const Vector tv = ta * (1 - s) + tb * s;
            const Vector sv = Decode(keys[2 * kKeys], clip.ChannelBox(2));
            if (c == 0) {
                r = qr, t = tv, sc = sv, sum = weights[0];
                continue;
            }
            sum += weights[c];
            const float f = weights[c] / sum;
            r.Slerp(r, qr, f);
            t = t * (1 - f) + tv * f;
            sc = sc * (1 - f) + sv * f;
        }
        Matrix pose, local;
        pose.LoadQuaternionTranslationAndScale(r, t, sc);
        const Matrix bind = HierarchyMatrix(h, n);
        local.Mul(bind, pose);
        const uint8_t parent = h.nodes[n].parent;
        nodes[n].Mul(parent == 255 ? Matrix::IDENTITY : nodes[parent], local);
        if (n < kBones) {
            Matrix skin, tr;
            skin.Mul(nodes[n], HierarchyMatrix(h, kNodes + n));
            tr.LoadTransposed(skin);
            std::memcpy(palette + size_t(n) * 12, &tr, 48);
        }
    }
}

void BM_EvaluatePose(benchmark::State& state) {
    Scene& s = TheScene();
    AnimationPoseWorkspace workspace;
    for (auto _ : state) {
        s.clock.Tick(1.0f / 60);
        for (auto& c : s.controllers) {
            c->ClearEvaluationStamp();
            c->EvaluatePose(workspace, Matrix::IDENTITY, 1.0f);
        }
        benchmark::DoNotOptimize(s.controllers.back()->Palette()[0]);
    }
    state.counters["entities_per_s"] = benchmark::Counter(double(state.iterations()) * kEntities, benchmark::Counter::kIsRate);
}

void BM_PlainCachedKeys(benchmark::State& state) {
    Scene& s = TheScene();
    std::vector<Cursors> cursors(kEntities, Cursors(size_t(2) * kNodes * 2, 0));
    std::vector<Matrix> nodes(kNodes);
    std::vector<float> palette(size_t(kBones) * 12);
    const ResourceAnimation* clips[2] = {s.clips[0].get(), s.clips[1].get()};
    const float weights[2] = {0.7f, 0.3f};
    float time = 0;
    for (auto _ : state) {
        time += 1.0f / 60;
        for (int e = 0; e < kEntities; ++e) {
            const float p = std::fmod(time + 0.001f * e, 2.0f) / 2.0f;
            const float progress[2] = {p, p};
            PlainPose(s.hierarchy, clips, progress, weights, cursors[e].data(), nodes.data(), palette.data());
        }
        benchmark::DoNotOptimize(palette[0]);
    }
    state.counters["entities_per_s"] = benchmark::Counter(double(state.iterations()) * kEntities, benchmark::Counter::kIsRate);
}

BENCHMARK(BM_EvaluatePose)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainCachedKeys)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("EvaluatePose %.0f entities/s, plain evaluation with cached key positions %.0f entities/s (medians)\n",
                reporter.Median("BM_EvaluatePose", "entities_per_s"), reporter.Median("BM_PlainCachedKeys", "entities_per_s"));
    benchsupport::PrintFigure(
        "EvaluatePose / plain evaluation, rate",
        reporter.Ratio("BM_EvaluatePose", "entities_per_s", "BM_PlainCachedKeys", "entities_per_s"), "at least 1");
    benchmark::Shutdown();
    return 0;
}
