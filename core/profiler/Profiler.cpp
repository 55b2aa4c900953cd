// Profiler: counters fed from every thread, sampled once per frame and drawn as
// panels on the render thread.
//
// Data flow per frame:
//  - feeders add section times, sums and levels into their counters (kind 2 under the
//    lock, and only while the counter is active);
//  - Draw (main thread) moves every main-thread counter's value into a sub-command 2
//    record for the enabled ones, resets timers and sums, sets the overlay camera and
//    posts sub-command 1;
//  - on the render thread, sub-command 2 adds the main-thread samples, and
//    sub-command 1 collects the other counters' values (CollectSamples) and draws the
//    enabled panels (Profiler_Render.cpp).
// Mask changes travel the same stream (sub-commands 0 and 3), so the render thread's
// active mask changes in order with the samples.
#include "core/profiler/Profiler.h"

#include <cctype>
#include <cstring>
#include <new>

#include "core/BaseThread.h"
#include "core/math/Matrix.h"

namespace {
alignas(Profiler) unsigned char gProfilerStorage[sizeof(Profiler)];
}
Profiler& gProfiler = *reinterpret_cast<Profiler*>(gProfilerStorage);

void CreateGlobalProfiler() { new (gProfilerStorage) Profiler; }
void DestroyGlobalProfiler() { gProfiler.~Profiler(); }

namespace {

struct CounterInfo {
    const char* name;
    const char* format;
    uint8_t showMinimum;
    uint32_t threadKind;
    uint32_t valueKind;
    float graphMin, graphMax;
};

constexpr uint32_t M = PROFILER_THREAD_MAIN, R = PROFILER_THREAD_RENDER, O = PROFILER_THREAD_OTHER;
constexpr uint32_t T = PROFILER_TIMER, S = PROFILER_SUM, L = PROFILER_LEVEL;
constexpr const char* F3 = "%.2f/%.2f/%.2f";
constexpr const char* F2 = "%.2f/%.2f";
constexpr const char* I3 = "%.0f/%.0f/%.0f";
constexpr const char* I2 = "%.0f/%.0f";

const CounterInfo kCounters[kProfilerCounterCount] = {
    {"FPS", F3, 1, R, L, 10, 60},
    {"FrameTime", F3, 1, R, L, 10, 50},
    {"MainFrameTime", F3, 1, M, L, 10, 50},
    {"MainIdle", F3, 1, M, T, 10, 100},
    {"RenderIdle", F3, 1, R, L, 10, 100},
    {"RenderFrame", F3, 1, M, T, 0, 30},
    {"D3DPresent", F3, 1, R, T, 0, 30},
    {"RenderRound", F3, 1, R, L, 0, 30},
    {"GPUSync", F3, 1, R, T, 0, 60},
    {"DrawCalls", I3, 1, R, L, 0, 3000},
    {"Triangles", I3, 1, R, L, 0, 500000},
    {"ParticleTime", F2, 0, R, T, 0, 30},
    {"ParticleRenderTime", F2, 0, R, T, 0, 30},
    {"ParticleMultiplier", F3, 1, R, S, 0, 1},
    {"ParticlesOnScreen", F2, 0, R, S, 0, 200000},
    {"SFXTime", F2, 0, R, T, 0, 30},
    {"VisibleEntities", I2, 0, M, S, 0, 1000},
    {"DynamicGeometry", F2, 0, R, S, 0, 1024},
    {"UIInst", I2, 0, R, L, 0, 50000},
    {"RenderTestA", F2, 0, R, T, 0, 30},
    {"RenderTestB", F2, 0, R, T, 0, 30},
    {"TotalFrameTime", F3, 1, M, L, 0, 100},
    {"GameTickCount", "%.0f/%.2f/%.0f", 1, M, L, 0, 10},
    {"GameTick", F3, 1, M, T, 0, 30},
    {"LOS", F2, 0, M, T, 0, 10},
    {"LOSTriangles", I2, 0, M, S, 0, 30000},
    {"Pathfinding", F2, 0, M, T, 0, 10},
    {"CPUSkinning", F2, 0, M, T, 0, 10},
    {"LuaAllocTime", F2, 0, M, T, 0, 10},
    {"LuaAllocNum", F2, 0, M, S, 0, 1024},
    {"LuaGCTime", F2, 0, M, T, 0, 10},
    {"LuaGCMem", F2, 0, M, S, 0, 16384},
    {"EntityInst", F2, 0, M, L, 0, 100000},
    {"MemoryFree", F3, 1, M, L, 0, 128},
    {"SoundInstances", F2, 0, O, L, 0, 50},
    {"ZombieSoundInstances", F2, 0, O, L, 0, 50},
    {"SoundRoundTime", F2, 0, O, L, 0, 100},
    {"SoundTick", F2, 0, O, L, 0, 30},
    {"SoundDecodeTime", F2, 0, O, T, 0, 30},
    {"SoundUploadTime", F2, 0, O, T, 0, 30},
    {"SoundBytesDecoded", F2, 0, O, L, 0, 65536},
    {"NetTick (Main)", F2, 1, M, T, 0, 15},
    {"NetTick (Other)", F2, 1, O, L, 0, 15},
    {"NetSentB", I2, 0, O, S, 0, 1000},
    {"NetSentPackets", I2, 0, O, S, 0, 10},
    {"NetSentEntity", I2, 0, O, S, 0, 200},
    {"NetSentEntityB", I2, 0, O, S, 0, 1000},
    {"NetSentPacketAck", I2, 0, O, S, 0, 200},
    {"NetSentPacketAckB", I2, 0, O, S, 0, 1000},
    {"NetSentMethod", I2, 0, O, S, 0, 200},
    {"NetSentMethodB", I2, 0, O, S, 0, 1000},
    {"NetChatEntry", I2, 0, O, S, 0, 200},
    {"NetChatEntryB", I2, 0, O, S, 0, 1000},
    {"NetSentTemplateID", I2, 0, O, S, 0, 200},
    {"NetRecvB", I2, 0, O, S, 0, 1000},
    {"NetRecvPackets", I2, 0, O, S, 0, 10},
    {"NetLatency", I2, 1, O, L, 0, 500},
    {"NetPacketLoss", I2, 0, O, L, 0, 10},
    {"NetDynamicMID", I2, 0, M, L, 0, 2000},
    {"NetStaticMID", I2, 0, M, L, 0, 2000},
    {"MPPropsEntityTickNum", I2, 0, M, L, 0, 100},
    {"MPPropsEntityTickSrvNum", I2, 0, M, L, 0, 100},
    {"ResourceLoading", F2, 0, O, T, 0, 30},
    {"TestA", F2, 0, M, T, 0, 30},
    {"TestB", F2, 0, M, T, 0, 30},
    {"TestC", F2, 0, M, T, 0, 30},
    {"TestD", F2, 0, M, T, 0, 30},
    {"TestE", F2, 0, M, T, 0, 30},
    {"TestF", F2, 0, M, T, 0, 30},
    {"TestG", F2, 0, M, T, 0, 30},
    {"TestH", F2, 0, M, T, 0, 30},
    {"TestI", F2, 0, M, T, 0, 30},
    {"TestJ", F2, 0, M, T, 0, 30},
    {"TestK", F2, 0, M, T, 0, 30},
    {"TestL", F2, 0, M, T, 0, 30},
    {"TestM", F2, 0, M, T, 0, 30},
};

bool MaskBit(const uint32_t* words, uint32_t i) { return (words[i / 32] >> (i % 32)) & 1u; }

// Copies at most kProfilerPatternMax characters, lower-cased.
void LowerCopy(char* out, const char* in) {
    uint32_t n = 0;
    for (; in[n] && n < kProfilerPatternMax; ++n) out[n] = static_cast<char>(std::tolower(static_cast<unsigned char>(in[n])));
    out[n] = 0;
}

}  // namespace

Profiler::Profiler() {
    for (uint32_t i = 0; i < kProfilerCounterCount; ++i) {
        const CounterInfo& info = kCounters[i];
        ProfilerCounter& c = counters[i];
        c = ProfilerCounter();
        c.threadKind = info.threadKind;
        c.valueKind = info.valueKind;
        c.sectionStart = Time::ZERO;
        c.accumulated = Time::ZERO;
        c.name = info.name;
        c.format = info.format;
        c.showMinimum = info.showMinimum;
        c.graphMin = info.graphMin;
        c.graphMax = info.graphMax;
    }
    for (uint32_t i = 0; i < kProfilerHistory; ++i) {
        float* pair = graphLines + i * 6;
        pair[0] = pair[3] = static_cast<float>(i);
        pair[1] = 0.0f;
        pair[4] = -1.0f / 59.0f;
        pair[2] = pair[5] = 0.0f;
    }
}

bool Profiler::IsActive(uint32_t index) const {
    return (activeMask[index / 32].load(std::memory_order_relaxed) >> (index % 32)) & 1u;
}

// ---- Feeding ----

void Profiler::StartTimer(uint32_t index, uint32_t threadKind) {
    if (threadKind == PROFILER_THREAD_MAIN) AssertMainThread();
    if (index >= kProfilerCounterCount) return;
    ProfilerCounter& c = counters[index];
    // Kind 2 keeps the whole section under the lock: several worker threads may share
    // a counter, and the render thread collects its time.
    CriticalSectionGuard guard(threadKind == PROFILER_THREAD_OTHER ? &lock : nullptr);
    if (++c.depth == 1 && IsActive(index)) {
        c.running = 1;
        c.sectionStart.LoadHardwareTime();
    }
}

void Profiler::StopTimer(uint32_t index, uint32_t threadKind) {
    if (threadKind == PROFILER_THREAD_MAIN) AssertMainThread();
    if (index >= kProfilerCounterCount) return;
    ProfilerCounter& c = counters[index];
    CriticalSectionGuard guard(threadKind == PROFILER_THREAD_OTHER ? &lock : nullptr);
    if (--c.depth == 0 && c.running) {
        c.running = 0;
        Time now;
        now.LoadHardwareTime();
        c.accumulated += now - c.sectionStart;
    }
}

void Profiler::AddValue(uint32_t index, float value, uint32_t threadKind) {
    if (threadKind == PROFILER_THREAD_MAIN) AssertMainThread();
    if (index >= kProfilerCounterCount) return;
    if (threadKind == PROFILER_THREAD_OTHER) {
        if (!IsActive(index)) return;
        CriticalSectionGuard guard(&lock);
        counters[index].value += value;
    } else {
        counters[index].value += value;
    }
}

void Profiler::SetValue(uint32_t index, float value, uint32_t threadKind) {
    if (threadKind == PROFILER_THREAD_MAIN) AssertMainThread();
    if (index >= kProfilerCounterCount) return;
    if (threadKind == PROFILER_THREAD_OTHER) {
        if (!IsActive(index)) return;
        CriticalSectionGuard guard(&lock);
        counters[index].value = value;
    } else {
        counters[index].value = value;
    }
}

// ---- Control ----

void Profiler::Init(uint32_t* mask) {
    AssertMainThread();
    mainThread = os::CurrentThreadId();
    if (drawer && !font) font = drawer->AcquireFont(kProfilerFontName);
    BindEnabledMask(mask);
}

void Profiler::Release() {
    AssertMainThread();
    if (drawer && font) drawer->ReleaseFont(font);
    font = nullptr;
}

CommandRingBuffer* Profiler::BeginPost(uint32_t subCommand, uint32_t extraBytes) {
    if (!drawer) return nullptr;
    CommandRingBuffer* ring =
        drawer->BeginRenderCall(&Profiler::RenderThreadTrampoline, subCommand, sizeof(Profiler*) + extraBytes);
    if (ring) {
        Profiler* self = this;
        ring->WriteValue(self);
    }
    return ring;
}

void Profiler::PostMaskOp(const uint32_t words[kProfilerMaskWords], uint32_t op) {
    CommandRingBuffer* ring = BeginPost(PROFILER_CMD_MASK, kProfilerMaskWords * 4 + 4);
    if (!ring) return;
    ring->Write(words, kProfilerMaskWords * 4);
    ring->WriteValue(op);
    drawer->EndRenderCall();
}

void Profiler::PostClear() {
    if (BeginPost(PROFILER_CMD_CLEAR, 0)) drawer->EndRenderCall();
}

void Profiler::BindEnabledMask(uint32_t* mask) {
    AssertMainThread();
    configuredMask = mask;
    if (!mask) return;
    PostMaskOp(mask, PROFILER_MASK_SET);
    PostClear();
}

void Profiler::EnableProfiler(const char* pattern, bool enable) {
    AssertMainThread();
    if (!configuredMask) return;
    uint32_t m[kProfilerMaskWords] = {};
    if (!pattern) {
        for (uint32_t& w : m) w = 0xFFFFFFFFu;
    } else {
        char lowered[kProfilerPatternMax + 1];
        LowerCopy(lowered, pattern);
        for (uint32_t i = 0; i < kProfilerCounterCount; ++i) {
            char name[kProfilerPatternMax + 1];
            LowerCopy(name, counters[i].name);
            if (std::strstr(name, lowered)) m[i / 32] |= 1u << (i % 32);
        }
    }
    for (uint32_t w = 0; w < kProfilerMaskWords; ++w) {
        if (enable)
            configuredMask[w] |= m[w];
        else
            configuredMask[w] &= ~m[w];
    }
    PostMaskOp(m, enable ? PROFILER_MASK_OR : PROFILER_MASK_ANDNOT);
}

void Profiler::PostDrawCommands() {
    AssertMainThread();
    // An unbound mask reads as all clear: nothing is sent, but timers and sums are
    // still reset each frame.
    static const uint32_t kNone[kProfilerMaskWords] = {};
    const uint32_t* mask = configuredMask ? configuredMask : kNone;
    uint32_t n = 0;
    for (uint32_t i = 0; i < kProfilerCounterCount; ++i)
        if (counters[i].threadKind == PROFILER_THREAD_MAIN && MaskBit(mask, i)) ++n;

    CommandRingBuffer* ring = BeginPost(PROFILER_CMD_SAMPLES, 4 + 8 * n);
    if (ring) ring->WriteValue(n);
    for (uint32_t i = 0; i < kProfilerCounterCount; ++i) {
        ProfilerCounter& c = counters[i];
        if (c.threadKind != PROFILER_THREAD_MAIN) continue;
        if (c.valueKind == PROFILER_TIMER) {
            c.value = static_cast<float>(c.accumulated.ToMilliseconds());
            c.accumulated = Time::ZERO;
        }
        if (ring && MaskBit(mask, i)) {
            ring->WriteValue(i);
            ring->WriteValue(c.value);
        }
        if (c.valueKind == PROFILER_SUM) c.value = 0.0f;
    }
    if (ring) drawer->EndRenderCall();
}

void Profiler::Draw(uint32_t width, uint32_t height) {
    PostDrawCommands();
    if (!drawer) return;
    // Pixel rectangle, y down, shifted by half a pixel so texels meet pixel centres.
    Matrix shift, ortho, projection;
    shift.LoadTranslation(-0.5f, -0.5f, 0.0f);
    ortho.LoadOrthoOffCenterLH(0.0f, static_cast<float>(width), static_cast<float>(height), 0.0f, 0.0f, 1.0f);
    projection.Mul(ortho, shift);
    drawer->SetOverlayCamera(width, height, projection);
    CommandRingBuffer* ring = BeginPost(PROFILER_CMD_DRAW, 8);
    if (!ring) return;
    ring->WriteValue(width);
    ring->WriteValue(height);
    drawer->EndRenderCall();
}
