// Fuzz target: arbitrary bytes as a route. Flags at the positions the bytes give (small
// coordinates, or any float bits including infinities and NaN) are chained in a graph; the
// bytes then add segments between them with any offset and marks, finish the route with
// any smoothing, move the squad to any places and build the ribbon's records from the
// route. The promises: every route point and the entity's box are finite and the squad
// distances are numbers; a route never exceeds its cap; every record's quantised values lie in the box
// and its padding is zero. The same bytes also go straight through the route functions
// and the record builder as a raw point array.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ProgramStaticInit.h"
#include "engine/entity/EntityManager.h"
#include "game/path/PathInstanceRecords.h"
#include "game/path/PathRoute.h"
#include "game/path/ZKRPathRendererEntity.h"
#include "game/path/ZKRPathRendererTemplate.h"
#include "scene/entities/FlagEntity.h"
#include "scene/entities/GraphEntity.h"
#include "scene/startup/SceneStaticInit.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "path_route_fuzz: %s\n", what);
    std::abort();
}

struct Input {
    const uint8_t* data;
    size_t size;
    uint8_t Byte() {
        if (!size) return 0;
        --size;
        return *data++;
    }
    float Float() {
        uint32_t bits = 0;
        for (int i = 0; i < 4; ++i) bits |= uint32_t(Byte()) << (8 * i);
        float f;
        std::memcpy(&f, &bits, 4);
        return f;
    }
    // A coordinate: mostly a small one (two bytes over 8), with bit 7 of the first byte
    // set any float.
    float Coordinate() {
        const uint8_t a = Byte();
        if (a & 0x80) return Float();
        return float(int16_t(uint16_t(a) << 8 | Byte())) / 8.0f;
    }
    Vector Position() {
        const float x = Coordinate(), y = Coordinate(), z = Coordinate();
        return Vector(x, y, z, 1);
    }
};

bool Finite(const Vector& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) && std::isfinite(v.w); }

void CheckRecords(const std::vector<Vector>& points) {
    const uint32_t n = uint32_t(points.size());
    std::vector<uint8_t> records(n > 1 ? size_t(n - 1) * kPathRecordBytes : 0), scratch(size_t(n) * 3 + 3);
    const PathRecordSummary s = BuildPathRecords(points.data(), n, records.data(), scratch.data());
    if (n < kPathMinRecordPoints) {
        if (s.segments != 0) Fail("records of fewer than 3 points");
        return;
    }
    if (s.segments != n - 1) Fail("a record count other than the segment count");
    for (uint32_t i = 0; i < s.segments; ++i) {
        const uint8_t* r = records.data() + size_t(i) * kPathRecordBytes;
        for (int k : {0, 2, 4, 6, 8, 10, 12, 14}) {
            const int16_t v = int16_t(uint16_t(r[k] | r[k + 1] << 8));
            if (v < 0) Fail("a quantised value below the box");
        }
        if (r[22] || r[23]) Fail("record padding not zero");
    }
}

ZKRPathRendererTemplate* gPathKind = nullptr;
FlagTemplate* gFlagKind = nullptr;
GraphTemplate* gGraphKind = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    InstallSceneServices();
    gEntityManager->Init(BoundingBox4(Vector(-5000, -5000, -5000, 1), Vector(5000, 5000, 5000, 1)), 100.0f);
    gPathKind = new ZKRPathRendererTemplate();
    gPathKind->SetName("path");
    gFlagKind = new FlagTemplate();
    gFlagKind->SetName("flag");
    gGraphKind = new GraphTemplate();
    gGraphKind->SetName("graph");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!gPathKind) LLVMFuzzerInitialize(nullptr, nullptr);
    Input in{data, size};
    gPathKind->smoothness = in.Float();
    // No rendering contexts: without a running renderer nothing would ever destroy one.
    Entity* graph = gEntityManager->CreateEntityFromTemplate(gGraphKind, nullptr, Matrix::IDENTITY,
                                                             ENTITYCREATION_DONOTCREATERENDERINGCONTEXT, nullptr);
    graph->RaiseFlag(ENTITYFLAG_NORENDERINGCONTEXT, false);
    const uint32_t flagCount = 2 + in.Byte() % 7;
    std::vector<FlagEntity*> flags;
    for (uint32_t i = 0; i < flagCount; ++i) {
        Matrix m;
        const Vector p = in.Position();
        m.LoadTranslation(p.x, p.y, p.z);
        flags.push_back(static_cast<FlagEntity*>(gEntityManager->CreateEntityFromTemplate(gFlagKind, graph, m, 0, nullptr)));
    }
    for (uint32_t i = 0; i + 1 < flagCount; ++i) flags[i]->AddConnection(flags[i + 1]);
    for (FlagEntity* f : flags) f->RecomputeConnections();

    auto* path = static_cast<ZKRPathRendererEntity*>(gEntityManager->CreateEntityFromTemplate(
        gPathKind, nullptr, Matrix::IDENTITY, ENTITYCREATION_DONOTCREATERENDERINGCONTEXT, nullptr));
    path->RaiseFlag(ENTITYFLAG_NORENDERINGCONTEXT, false);
    path->BeginPath();
    const uint32_t segments = in.Byte() % 12;
    for (uint32_t s = 0; s < segments; ++s) {
        const uint8_t pick = in.Byte(), marks = in.Byte();
        const float offset = in.Float();
        path->AddGraphSegment(flags[pick % flagCount], flags[(pick >> 4) % flagCount], offset, marks & 1, marks & 2,
                              marks & 4);
    }
    path->FinishPath();
    const std::vector<Vector>& points = path->Points();
    if (points.size() > kPathMaxPoints) Fail("a route beyond its cap");
    for (const Vector& p : points)
        if (!Finite(p)) Fail("a route point that is not finite");
    const BoundingBox4& box = path->GetLocalBoundingBox();
    if (!points.empty() && !(Finite(box.min) && Finite(box.max))) Fail("a box that is not finite");
    const uint32_t moves = in.Byte() % 8;
    for (uint32_t i = 0; i < moves; ++i) {
        const Vector at = in.Position();
        if (i == 0) path->ResetSquadPosition(at, in.Position());
        else path->UpdateSquadPosition(at);
        // Routes near the float range may measure infinitely long; never NaN.
        if (std::isnan(path->SquadRawDistance()) || std::isnan(path->SquadDistance())) Fail("a squad distance that is NaN");
        if (path->SquadSegment() + 1 >= points.size() && points.size() >= 2) Fail("the squad beyond the last segment");
    }
    CheckRecords(points);
    gEntityManager->NewScene();

    // The rest as a raw point array through the route functions and the record builder.
    std::vector<Vector> raw;
    while (in.size >= 16 && raw.size() < 4096) {
        const float x = in.Float(), y = in.Float(), z = in.Float(), w = in.Float();
        raw.push_back(Vector(x, y, z, w));
    }
    bool finite = true;
    for (const Vector& p : raw) finite = finite && Finite(p);
    std::vector<Vector> smoothed(raw.size());
    SmoothAndOffsetPath(raw.data(), uint32_t(raw.size()), gPathKind->smoothness, smoothed.data());
    if (finite) {
        for (const Vector& p : smoothed)
            if (!Finite(p)) Fail("a smoothed point of finite input that is not finite");
        CheckRecords(smoothed);
    }
    return 0;
}

using FuzzAddSeed = void (*)(const uint8_t* data, size_t size);

extern "C" void FuzzSeeds(FuzzAddSeed add) {
    // Smoothness 3.2, three flags on a bent line, four segments with marks and squad moves.
    std::vector<uint8_t> seed;
    const auto put32 = [&](float f) {
        uint32_t b;
        std::memcpy(&b, &f, 4);
        for (int i = 0; i < 4; ++i) seed.push_back(uint8_t(b >> (8 * i)));
    };
    const auto put16 = [&](float c) {
        const uint16_t v = uint16_t(int16_t(c * 8.0f));
        seed.push_back(uint8_t(v >> 8));
        seed.push_back(uint8_t(v));
    };
    put32(3.2f);
    seed.push_back(1);  // three flags
    const float flags[3][3] = {{0, 0, 0}, {40, 0, 0}, {40, 2, 30}};
    for (const auto& f : flags)
        for (float c : f) put16(c);
    seed.push_back(4);
    const uint8_t picks[4][2] = {{0x10, 1}, {0x21, 4}, {0x01, 7}, {0x12, 2}};
    for (const auto& p : picks) {
        seed.push_back(p[0]);
        seed.push_back(p[1]);
        put32(1.5f);
    }
    seed.push_back(3);
    const float moves[4][3] = {{5, 0, 0}, {1, 0, 0}, {20, 0, 0}, {40, 0, 10}};
    for (const auto& m : moves)
        for (float c : m) put16(c);
    add(seed.data(), seed.size());
    for (float c : {0.0f, 0.0f, 0.0f, 2.0f, 10.0f, 0.0f, 0.0f, -1.0f, 10.0f, 0.0f, 10.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f}) put32(c);
    add(seed.data(), seed.size());
}
