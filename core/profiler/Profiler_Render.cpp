// Profiler, render-thread side: the sub-commands, sampling, text and panel drawing.
#include <cstdio>

#include "core/BaseThread.h"
#include "core/math/Matrix.h"
#include "core/profiler/Profiler.h"

namespace {

// Panel outline (line strip 0-6) and rectangle (fan 7-10), in panel pixels.
const float kGraphVertices[kProfilerGraphVertexCount * 3] = {
    0, 18, 0, 210, 18, 0, 210, 80, 0, 0, 80, 0, 0, 0, 0, 210, 0, 0, 210, 18, 0,
    0, 0,  0, 210, 0,  0, 210, 80, 0, 0, 80, 0,
};

}  // namespace

void Profiler::RenderThreadTrampoline(uint32_t subCommand, CommandRingBuffer& reader) {
    Profiler* self = nullptr;
    if (!reader.ReadValue(self) || !self) return;
    self->ExecuteRenderCommand(subCommand, reader);
}

void Profiler::ExecuteRenderCommand(uint32_t subCommand, CommandRingBuffer& reader) {
    switch (subCommand) {
    case PROFILER_CMD_MASK: {
        uint32_t words[kProfilerMaskWords];
        uint32_t op = 0;
        if (!reader.Read(words, sizeof words) || !reader.ReadValue(op)) return;
        for (uint32_t w = 0; w < kProfilerMaskWords; ++w) {
            uint32_t v = activeMask[w].load(std::memory_order_relaxed);
            switch (op) {
            case PROFILER_MASK_OR: v |= words[w]; break;
            case PROFILER_MASK_ANDNOT: v &= ~words[w]; break;
            case PROFILER_MASK_SET: v = words[w]; break;
            case PROFILER_MASK_XOR: v ^= words[w]; break;
            default: break;
            }
            activeMask[w].store(v, std::memory_order_relaxed);
        }
        break;
    }
    case PROFILER_CMD_DRAW: {
        uint32_t width = 0, height = 0;
        if (reader.ReadValue(width) && reader.ReadValue(height)) _Render(width, height);
        break;
    }
    case PROFILER_CMD_SAMPLES: {
        uint32_t n = 0;
        if (!reader.ReadValue(n)) return;
        for (uint32_t k = 0; k < n; ++k) {
            uint32_t index = 0;
            float value = 0;
            if (!reader.ReadValue(index) || !reader.ReadValue(value)) return;
            if (index < kProfilerCounterCount) AddSample(index, value);
        }
        break;
    }
    case PROFILER_CMD_CLEAR:
        // Positions and sample counts stay: averages then run over the zeros.
        for (ProfilerCounter& c : counters) {
            for (float& v : c.raw) v = 0.0f;
            for (float& v : c.normalised) v = 0.0f;
        }
        break;
    default:
        break;
    }
}

void Profiler::AddSample(uint32_t index, float value) {
    ProfilerCounter& c = counters[index];
    c.raw[c.position] = value;
    // Counter 0 holds the frame time; its graph shows the rate.
    float shown = index == PROFILE_FPS ? 1000.0f / value : value;
    float n = (shown - c.graphMin) / (c.graphMax - c.graphMin);
    if (!(n > 0.0f)) n = 0.0f;  // also NaN
    if (n > 1.0f) n = 1.0f;
    c.normalised[c.position] = n;
    ++c.sampleCount;
    if (++c.position >= kProfilerHistory) c.position = 0;
}

void Profiler::CollectSamples() {
    CriticalSectionGuard guard(&lock);
    for (uint32_t i = 0; i < kProfilerCounterCount; ++i) {
        ProfilerCounter& c = counters[i];
        if (c.threadKind == PROFILER_THREAD_MAIN) continue;
        switch (c.valueKind) {
        case PROFILER_TIMER:
            AddSample(i, static_cast<float>(c.accumulated.ToMilliseconds()));
            c.accumulated = Time::ZERO;
            break;
        case PROFILER_SUM:
            AddSample(i, c.value);
            c.value = 0.0f;
            break;
        default:
            AddSample(i, c.value);
            break;
        }
    }
}

uint32_t Profiler::FormatText(uint32_t index, char* buffer, uint32_t size) const {
    if (!buffer || size == 0) return 0;
    buffer[0] = 0;
    if (index >= kProfilerCounterCount) return 0;
    const ProfilerCounter& c = counters[index];
    uint32_t n = c.sampleCount < kProfilerHistory ? c.sampleCount : kProfilerHistory;
    if (n == 0) return 0;
    float lo = c.raw[0], hi = c.raw[0], sum = 0.0f;
    for (uint32_t i = 0; i < n; ++i) {
        float v = c.raw[i];
        if (v < lo) lo = v;
        if (v > hi) hi = v;
        sum += v;
    }
    float avg = sum / static_cast<float>(n);
    if (index == PROFILE_FPS) {
        // Frame times become rates: the longest frame is the lowest rate.
        auto rate = [](float x) { return x > 0.0f ? 1000.0f / x : 0.0f; };
        float newLo = rate(hi), newHi = rate(lo);
        avg = rate(avg);
        lo = newLo, hi = newHi;
    }
    int written = c.showMinimum ? std::snprintf(buffer, size, c.format, double(lo), double(avg), double(hi))
                                : std::snprintf(buffer, size, c.format, double(avg), double(hi));
    if (written < 0) return 0;
    return static_cast<uint32_t>(written) < size ? static_cast<uint32_t>(written) : size - 1;
}

uint32_t Profiler::ComputePanelLayout(uint32_t width, uint32_t height, const uint32_t mask[kProfilerMaskWords],
                                      ProfilerPanelPosition* out) {
    const int32_t h = static_cast<int32_t>(height);
    int32_t x = static_cast<int32_t>(width) - static_cast<int32_t>(kProfilerPanelWidth + 1);
    int32_t y = 1;
    uint32_t placed = 0;
    for (uint32_t i = 0; i < kProfilerCounterCount; ++i) {
        if (!((mask[i / 32] >> (i % 32)) & 1u)) continue;
        out[placed++] = ProfilerPanelPosition{x, y, i};
        y += static_cast<int32_t>(kProfilerPanelHeight);
        if (y + static_cast<int32_t>(kProfilerPanelHeight) > h) {
            x -= static_cast<int32_t>(kProfilerPanelWidth);
            if (x < 0) break;
            y = 1;
        }
    }
    return placed;
}

void Profiler::FillGraphVertices(uint32_t index) {
    const ProfilerCounter& c = counters[index];
    uint32_t slot = c.position;
    for (uint32_t i = 0; i < kProfilerHistory; ++i) {
        graphLines[i * 6 + 1] = c.normalised[slot];
        if (++slot >= kProfilerHistory) slot = 0;
    }
}

void Profiler::CreateGraphVertexBuffer() {
    if (drawer) vertexBufferReady = drawer->CreateGraphVertexBuffer(kGraphVertices, kProfilerGraphVertexCount);
}

void Profiler::ReleaseGraphVertexBuffer() {
    if (drawer && vertexBufferReady) drawer->ReleaseGraphVertexBuffer();
    vertexBufferReady = false;
}

void Profiler::_Render(uint32_t width, uint32_t height) {
    if (!drawer) return;
    drawer->UpdateFrameStatistics();
    CollectSamples();
    if (!font) return;

    uint32_t mask[kProfilerMaskWords];
    for (uint32_t w = 0; w < kProfilerMaskWords; ++w) mask[w] = activeMask[w].load(std::memory_order_relaxed);
    ProfilerPanelPosition panels[kProfilerCounterCount];
    uint32_t count = ComputePanelLayout(width, height, mask, panels);
    if (count == 0) return;

    Matrix place[kProfilerCounterCount];
    for (uint32_t p = 0; p < count; ++p)
        place[p].LoadTranslation(static_cast<float>(panels[p].x), static_cast<float>(panels[p].y), 0.0f);

    drawer->SetBlendMode(PROFILER_BLEND_ALPHA);
    drawer->SetDepthState(PROFILER_CMP_LESSEQUAL, true);
    drawer->SetCullMode(PROFILER_CULL_NONE);
    drawer->SetFixedPipelineShader();
    drawer->SetModelColor(Vector(0, 0, 0, 0.25f));
    for (uint32_t p = 0; p < count; ++p) drawer->DrawGraphVertices(PROFILER_PRIMITIVE_TRIANGLEFAN, 7, 2, place[p]);

    drawer->SetBlendMode(PROFILER_BLEND_OPAQUE);
    drawer->SetModelColor(Vector(0, 0, 1, 1));
    for (uint32_t p = 0; p < count; ++p) drawer->DrawGraphVertices(PROFILER_PRIMITIVE_LINESTRIP, 0, 6, place[p]);

    drawer->SetModelColor(Vector(0, 1, 0, 1));
    // Bars from y = 79 up to 78 - 59 x value inside the panel.
    Matrix scale, shift, graph;
    scale.LoadScale(1.0f, -59.0f, 1.0f);
    shift.LoadTranslation(1.0f, 78.0f, 0.0f);
    graph.Mul(shift, scale);
    for (uint32_t p = 0; p < count; ++p) {
        Matrix world;
        world.Mul(place[p], graph);
        FillGraphVertices(panels[p].counter);
        drawer->DrawLines(graphLines, kProfilerHistory, world);
    }

    const Vector white(1, 1, 1, 1);
    for (uint32_t p = 0; p < count; ++p) {
        const ProfilerPanelPosition& at = panels[p];
        drawer->DrawText(font, counters[at.counter].name, static_cast<float>(at.x + 2), static_cast<float>(at.y + 1),
                         white);
        char text[256];
        FormatText(at.counter, text, sizeof text);
        float w = drawer->MeasureText(font, text);
        drawer->DrawText(font, text, static_cast<float>(at.x + 208) - w, static_cast<float>(at.y + 1), white);
    }
}
