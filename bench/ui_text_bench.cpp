// Text and localised strings against plain loops doing the same work, in one run:
//  (a) re-layout and draw of a word-wrapped 20,000-character UITextBox per frame (the
//      recording device, draw records off), against a plain loop that looks up each glyph
//      and writes its 16-byte vertices with one draw per 512 quads. Rates are frames per
//      second; goal: (a) at least 0.5.
//  (b) 100,000 StringManager::GetString lookups (current language, with fallback) in a
//      20,000-string "L01n.bin" written by tests/support/l01n.py, against std::lower_bound
//      over a sorted vector of the same paths.
// Rates are lookups per second; ratios are printed at the end (goal: (b) at least 0.8).
//
// The strings file comes from tests/support/l01n.py and the font from binfont.py (run with
// python3), so the program is run from a build folder inside the source tree
// (build-release/bench/ui_text_bench).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <functional>

#include "bench/BenchSupport.h"
#include "bench/RateReporter.h"
#include "core/fs/FileSystem.h"
#include "platform/gfx/GfxDevice.h"
#include "platform/gfx/GfxRecorder.h"
#include "render/VornexRenderer.h"
#include "render/resources/ResourceFont.h"
#include "render/resources/ResourceManager.h"
#include "tests/support/ProgramStaticInit.h"
#include "ui/elements/UIQuadIndexList.h"
#include "ui/elements/UIScreen.h"
#include "ui/elements/UITextBox.h"
#include "ui/elements/UIViewState.h"
#include "ui/localisation/StringManager.h"
#include "ui/text/BinFont.h"
#include "ui/text/FontDraw.h"

namespace {

using benchsupport::RunOnRenderThread;
using benchsupport::Seconds;

namespace sfs = std::filesystem;

// ---- (a) text box layout and draw ----

constexpr uint32_t kTextCharacters = 20000;

struct TextScene {
    UIScreen* screen = nullptr;
    UITextBox* box = nullptr;
    ResourceFont* font = nullptr;
    std::u16string text;
    Matrix view, projection;
    float w = 0, h = 0, sx = 1, sy = 1;
};

// The renderer on the recording device, a box font of the printable ASCII characters (7
// pixels a character, 16 a line) and a 1200-wide text box holding 20,000 characters of
// words; null when python3 or the font fails.
TextScene* BuildText() {
    RunProgramStaticInit();
    if (!benchsupport::StartRenderer("UITextBench", 1280, 720)) return nullptr;
    gfx::Recorder* recorder = gfx::GetRecorder(gVornexRenderer.Device());
    recorder->SetDrawRecordMode(gfx::DrawRecordMode::Off);
    recorder->SetValidationMode(gfx::ValidationMode::Warn);
    gResourceManager.Start();

    const sfs::path source = sfs::canonical("/proc/self/exe").parent_path().parent_path().parent_path();
    const sfs::path folder = sfs::temp_directory_path() / ("ui_text_bench_font_" + std::to_string(::getpid()));
    sfs::create_directories(folder / "Fonts");
    std::string glyphs;
    for (int c = 32; c < 127; ++c) {
        char glyph[32];
        std::snprintf(glyph, sizeof glyph, c == 32 ? "%s[%d,0,0,0,0,4]" : "%s[%d,5,10,1,-3,7]", c == 32 ? "" : ",", c);
        glyphs += glyph;
    }
    const std::string command = "python3 " + (source / "tests/support/binfont.py").string() + " boxfont " +
                                (folder / "Fonts/bench.ttf~016.BinFont").string() + " '{\"line\": 16, \"glyphs\": [" +
                                glyphs + "]}'";
    if (std::system(command.c_str()) != 0) return nullptr;
    gFileSystem.MountDirectory("Common", folder.string().c_str());

    TextScene* s = new TextScene;
    uint32_t state = 777;
    while (s->text.size() < kTextCharacters) {
        state = state * 214013u + 2531011u;
        const uint32_t length = 2 + (state >> 16) % 8;
        for (uint32_t i = 0; i < length && s->text.size() < kTextCharacters; ++i)
            s->text += char16_t(u'a' + (state >> (i + 8)) % 26);
        if (s->text.size() < kTextCharacters) s->text += u' ';
    }
    SetUISizeOverride(1280, 720);
    s->screen = new UIScreen;
    s->screen->SetSize(1280, 720);
    s->box = new UITextBox(nullptr, "bench.ttf", 16, false);
    s->box->SetPosition(40, 10, 0);
    s->box->SetSize(1200, 700);
    s->box->SetText(s->text.c_str());
    s->screen->AddChild(s->box);
    s->font = s->box->GetFont();
    gVornexRenderer.FlushCommands(true);
    // The font is loaded: its folder leaves "Common" to the strings file of (b).
    gFileSystem.UnmountAll();
    sfs::remove_all(folder);
    if (!s->font || s->font->PageTextureCount() == 0 || s->box->HackGetLinesCount() == 0) return nullptr;
    Matrix ortho;
    s->screen->ComputeCamera(1280, 720, &s->view, &s->projection, &ortho, &s->w, &s->h, &s->sx, &s->sy);
    return s;
}

// The direct side: every character's glyph looked up and its quad written in place, a
// draw per 512 quads.
void DrawDirect(const TextScene& s) {
    static GlyphVertex vertices[kGlyphBatchQuads * 4];
    uint32_t count = 0;
    const FontGlyph* glyphs = FontGlyphs(*s.font, &count);
    VornexRenderer& r = gVornexRenderer;
    r.SetTexture(0, s.font->PageTexture(0), 0x6);
    uint32_t quads = 0;
    int32_t pen = 0;
    const auto flush = [&] {
        if (quads) r.DrawIndexedPrimitiveUP(gfx::PT_TRIANGLELIST, 0, 4 * quads, 2 * quads, UIQuadIndexList(), vertices,
                                            sizeof(GlyphVertex));
        quads = 0;
    };
    for (char16_t c : s.text) {
        const int32_t index = FindGlyph(*s.font, c);
        if (index < 0) continue;
        const FontGlyph& g = glyphs[index];
        GlyphVertex* v = vertices + 4 * quads;
        const int16_t left = int16_t(pen + g.xOffset), right = int16_t(left + (g.right - g.left));
        const int16_t top = int16_t(-g.yOffset), bottom = int16_t(g.bottom - g.top - g.yOffset);
        v[0] = {left, bottom, g.left, g.bottom, {32767, 32767, 32767, 32767}};
        v[1] = {right, bottom, g.right, g.bottom, {32767, 32767, 32767, 32767}};
        v[2] = {right, top, g.right, g.top, {32767, 32767, 32767, 32767}};
        v[3] = {left, top, g.left, g.top, {32767, 32767, 32767, 32767}};
        pen += g.advance;
        if (++quads == kGlyphBatchQuads) flush();
    }
    flush();
}

void BM_TextBoxLayoutAndDraw(benchmark::State& state) {
    static TextScene* scene = BuildText();
    if (!scene) {
        state.SkipWithError("no font (python3 and tests/support/binfont.py are needed)");
        return;
    }
    double layoutTime = 0, directTime = 0;
    for (auto _ : state) {
        RunOnRenderThread([&] {
            VornexRenderer& r = gVornexRenderer;
            r.Device()->BeginScene();
            r.ApplyViewport(0, 0, 1280, 720, 0, 1);
            r.SetCameraState(scene->view, scene->projection, Matrix::IDENTITY, 0);
            SetUIViewTransform(0, 0, scene->w, scene->h, scene->sx, scene->sy, Vector(0.5f, 0.5f, 0, 0));
            const auto t0 = std::chrono::steady_clock::now();
            scene->box->DoSetSize(Vector(1200, 700, 0, 0));  // the whole text laid out again
            scene->screen->RenderTree();
            const auto t1 = std::chrono::steady_clock::now();
            DrawDirect(*scene);
            const auto t2 = std::chrono::steady_clock::now();
            r.Device()->EndScene();
            layoutTime += Seconds(t0, t1);
            directTime += Seconds(t1, t2);
        });
    }
    const double frames = double(state.iterations());
    state.counters["layout_ms"] = 1000.0 * layoutTime / frames;
    state.counters["direct_ms"] = 1000.0 * directTime / frames;
    state.counters["ratio"] = directTime / layoutTime;  // layout rate / direct rate
}
BENCHMARK(BM_TextBoxLayoutAndDraw)->UseRealTime()->MinTime(2.0);

// ---- (b) string lookups ----

constexpr uint32_t kStrings = 20000;
constexpr uint32_t kLookups = 100000;

struct StringTable {
    StringManager* manager = nullptr;
    std::vector<std::string> paths;  // sorted, as the file's entries
    std::vector<std::string> ids;    // the looked-up ids, in lookup order
};

// The string manager with l01n.py's generated file loaded from a mounted "Common" folder;
// null manager when python3 or the file fails.
StringTable& Table() {
    static StringTable table = [] {
        StringTable t;
        RunProgramStaticInit();
        const sfs::path source = sfs::canonical("/proc/self/exe").parent_path().parent_path().parent_path();
        const sfs::path folder = sfs::temp_directory_path() / ("ui_text_bench_" + std::to_string(::getpid()));
        sfs::create_directories(folder);
        const std::string command = "python3 " + (source / "tests/support/l01n.py").string() + " generate " +
                                    (folder / "L01n.bin").string() + " " + std::to_string(kStrings);
        if (std::system(command.c_str()) != 0) return t;
        gFileSystem.MountDirectory("Common", folder.string().c_str());
        t.manager = new StringManager();
        if (!t.manager->LoadCompiledStrings()) {
            delete t.manager;
            t.manager = nullptr;
        }
        sfs::remove_all(folder);
        char path[64];
        for (uint32_t i = 0; i < kStrings; ++i) {
            std::snprintf(path, sizeof path, "Bench/Group%03u/String%05u", i / 100, i);
            t.paths.emplace_back(path);
        }
        std::sort(t.paths.begin(), t.paths.end(), [](const std::string& a, const std::string& b) {
            return std::strcmp(a.c_str(), b.c_str()) < 0;
        });
        uint32_t state = 12345;
        for (uint32_t i = 0; i < kLookups; ++i) {
            state = state * 214013u + 2531011u;
            t.ids.push_back(t.paths[(state >> 8) % kStrings]);
        }
        return t;
    }();
    return table;
}

void BM_StringLookups(benchmark::State& state) {
    StringTable& t = Table();
    if (!t.manager) {
        state.SkipWithError("no strings file (python3 and tests/support/l01n.py are needed)");
        return;
    }
    std::vector<const char*> sorted;
    for (const std::string& p : t.paths) sorted.push_back(p.c_str());
    double lookupTime = 0, directTime = 0;
    size_t found = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        for (const std::string& id : t.ids)
            found += t.manager->GetString(id.c_str(), kCurrentTextLanguage, nullptr, true, true) != nullptr;
        const auto t1 = std::chrono::steady_clock::now();
        for (const std::string& id : t.ids) {
            const char* key = id.c_str();
            auto it = std::lower_bound(sorted.begin(), sorted.end(), key,
                                       [](const char* a, const char* b) { return std::strcmp(a, b) < 0; });
            found += it != sorted.end() && std::strcmp(*it, key) == 0;
        }
        const auto t2 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(found);
        lookupTime += Seconds(t0, t1);
        directTime += Seconds(t1, t2);
    }
    if (found != size_t(state.iterations()) * kLookups * 2) state.SkipWithError("a lookup failed");
    const double lookups = double(state.iterations()) * kLookups;
    state.counters["lookups_per_s"] = lookups / lookupTime;
    state.counters["direct_per_s"] = lookups / directTime;
    state.counters["ratio"] = directTime / lookupTime;  // lookup rate / direct rate
}
BENCHMARK(BM_StringLookups)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("(a) text box %.3f ms/frame, direct glyph loop %.3f ms/frame (medians)\n",
                reporter.Median("BM_TextBoxLayoutAndDraw", "layout_ms"),
                reporter.Median("BM_TextBoxLayoutAndDraw", "direct_ms"));
    benchsupport::PrintFigure("(a) text box / direct glyph loop, rate", reporter.Of("BM_TextBoxLayoutAndDraw", "ratio"),
                              "at least 0.5");
    benchsupport::PrintFigure("(b) GetString lookups / std::lower_bound, rate",
                              reporter.Of("BM_StringLookups", "ratio"), "at least 0.8", 3);
    delete Table().manager;
    benchmark::Shutdown();
    return 0;
}
