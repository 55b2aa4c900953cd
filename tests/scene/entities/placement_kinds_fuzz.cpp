// Fuzz target: arbitrary bytes as the property list of one of the placed scene kinds (the
// first byte picks the kind), then that kind's after-load work: a compound template's
// element templates and helper drawing, a compound entity's lightmap mappings, a flag's
// connection queries and pruning, a graph's rebuild, the envelope and UI templates. A list
// of a template that reads must write back bytes that read back to the same bytes; no
// placement on a loaded connection may be non-finite.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "ProgramStaticInit.h"
#include "core/BoundedReader.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/RTTIEntityPointer.h"
#include "engine/entity/EntityManager.h"
#include "scene/entities/CompoundEntity.h"
#include "scene/entities/EnvelopeEntity.h"
#include "scene/entities/FlagEntity.h"
#include "scene/entities/GraphEntity.h"
#include "scene/entities/InGameUIEntity.h"
#include "scene/startup/SceneStaticInit.h"

namespace {

enum Kind : uint8_t {
    KIND_COMPOUND_TEMPLATE,
    KIND_COMPOUND_ENTITY,
    KIND_FLAG_ENTITY,
    KIND_GRAPH_TEMPLATE,
    KIND_GRAPH_ENTITY,
    KIND_UI_TEMPLATE,
    KIND_COLOR_ENVELOPE_TEMPLATE,
    KIND_VECTOR_ENVELOPE_TEMPLATE,
    KIND_FLAG_TEMPLATE,
    KIND_COUNT
};

// Names the broken promise, then stops the run.
[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "placement_kinds_fuzz: %s\n", what);
    std::abort();
}

FlagTemplate* gFlagKind = nullptr;
CompoundTemplate* gCompoundKind = nullptr;
GraphTemplate* gGraphKind = nullptr;

std::vector<uint8_t> Write(const RTTIClass* cls, const void* object) {
    std::vector<uint8_t> out(cls->SerializeProperties(nullptr, object, 0));
    cls->SerializeProperties(out.data(), object, 0);
    return out;
}

// Reads the list into object; when it reads, the written list must read back unchanged.
template <class T, class Make>
void RoundTrip(const uint8_t* data, size_t size, T* object, Make&& make) {
    const RTTIClass* cls = object->GetRTTIClass();
    BoundedReader in(data, size);
    {
        EntityPointerScratchScope dropPointers;
        cls->DeserializeProperties(in, object, 0);
    }
    // An entity's own list does not write back byte for byte (its GUID stays unique, its
    // rotation is decomposed again): only the kinds' template lists are compared.
    if (in.Failed() || std::is_base_of_v<Entity, T>) return;
    const std::vector<uint8_t> out = Write(cls, object);
    T* back = make();
    BoundedReader again(out.data(), out.size());
    {
        EntityPointerScratchScope dropPointers;
        cls->DeserializeProperties(again, back, 0);
    }
    if (again.Failed() || Write(cls, back) != out) Fail("a template list does not read back as written");
    if constexpr (!std::is_base_of_v<Entity, T>) delete back;
}

bool Finite(const Matrix& m) {
    for (const Vector& r : m.r)
        for (int i = 0; i < 4; ++i)
            if (!std::isfinite(r[i])) return false;
    return true;
}

template <class E>
E* MakeEntity(EntityTemplate* t, Entity* parent = nullptr) {
    return static_cast<E*>(gEntityManager->CreateEntityFromTemplate(
        t, parent, Matrix::IDENTITY, ENTITYCREATION_DONOTCREATERENDERINGCONTEXT, nullptr));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    InstallSceneServices();
    gEntityManager->Init(BoundingBox4(Vector(-100, -10, -100, 1), Vector(100, 50, 100, 1)), 10.0f);
    gFlagKind = new FlagTemplate();
    gFlagKind->SetName("flag");
    gCompoundKind = new CompoundTemplate();
    gCompoundKind->SetName("compound");
    gGraphKind = new GraphTemplate();
    gGraphKind->SetName("graph");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!gFlagKind) LLVMFuzzerInitialize(nullptr, nullptr);
    if (size < 1) return 0;
    const uint8_t kind = data[0] % KIND_COUNT;
    ++data, --size;
    switch (kind) {
    case KIND_COMPOUND_TEMPLATE: {
        auto* t = new CompoundTemplate();
        RoundTrip(data, size, t, [] { return new CompoundTemplate(); });
        t->ResolveElementTemplates();
        std::vector<EntityTemplate*> found;
        for (const CompoundTemplateElement& e : t->elements) CompoundTemplate::CollectElementTemplates(e, found);
        t->DrawHelper(Matrix::IDENTITY, Vector(1, 1, 1, 1), 0, nullptr);
        delete t;
        break;
    }
    case KIND_COMPOUND_ENTITY: {
        auto* e = MakeEntity<CompoundEntity>(gCompoundKind);
        MakeEntity<Entity>(gFlagKind, e);
        RoundTrip(data, size, e, [] { return MakeEntity<CompoundEntity>(gCompoundKind); });
        e->OnLoaded(0);
        if (e->elementLightmaps.Count() != e->GetChildrenCount()) Fail("lightmap mappings not one per child");
        e->UpdateLocalBoundingBox();
        gEntityManager->DestroyEntity(e);
        break;
    }
    case KIND_FLAG_ENTITY: {
        auto* s = MakeEntity<FlagEntity>(gFlagKind);
        auto* d = MakeEntity<FlagEntity>(gFlagKind);
        d->SetLocalPosition(Vector(3, 0, 4, 1));
        RoundTrip(data, size, s, [] { return MakeEntity<FlagEntity>(gFlagKind); });
        s->SetLocalPosition(Vector(0, 0, 0, 1));
        // The loaded curves (lengths and distances as read) placed towards a live flag.
        for (FlagEntityConnection& c : s->connections) c.destination.Assign(d);
        for (uint32_t i = 0; i < s->GetNeighbourCount() && i < 8; ++i) {
            const float length = s->GetNeighbourDistance(i);
            for (float at : {-1.0f, 0.0f, 0.5f, length * 0.5f, length, length + 1.0f}) {
                Matrix m;
                s->GetGlobalPositionOnPath(i, at, m, at > length, nullptr);
                if (!Finite(m)) Fail("a placement is not finite");
            }
            if (!std::isfinite(s->GetPathPositionNearestToGlobalPoint(i, Vector(1, 0, 1, 1), nullptr)))
                Fail("a nearest distance is not finite");
        }
        gEntityManager->DestroyEntity(d);
        s->SolidSerialize(nullptr, 0);
        if (s->GetNeighbourCount() != 0) Fail("dead connections were written");
        gEntityManager->DestroyEntity(s);
        break;
    }
    case KIND_GRAPH_TEMPLATE: {
        auto* t = new GraphTemplate();
        RoundTrip(data, size, t, [] { return new GraphTemplate(); });
        if (!(t->MappingFactor() >= 0.0f) || !std::isfinite(t->MappingFactor()))
            Fail("the mapping factor is not a finite positive number");
        delete t;
        break;
    }
    case KIND_GRAPH_ENTITY: {
        auto* g = MakeEntity<GraphEntity>(gGraphKind);
        auto* a = MakeEntity<FlagEntity>(gFlagKind, g);
        auto* b = MakeEntity<FlagEntity>(gFlagKind, g);
        RoundTrip(data, size, a, [] { return MakeEntity<FlagEntity>(gFlagKind); });
        for (FlagEntityConnection& c : a->connections) c.destination.Assign(b);
        g->Connect(b, a);
        GraphGeometry geometry;
        g->BuildGeometry(geometry);
        g->UpdateBox();
        gEntityManager->DestroyEntity(g);
        break;
    }
    case KIND_UI_TEMPLATE: {
        auto* t = new InGameUITemplate();
        RoundTrip(data, size, t, [] { return new InGameUITemplate(); });
        Vector scale;
        if (InGameUIEntityRenderingContext::ScaleFor(t->size, scale)) {
            const Matrix m = InGameUIEntityRenderingContext::UITransform(Matrix::IDENTITY, scale);
            (void)m;
        }
        delete t;
        break;
    }
    case KIND_COLOR_ENVELOPE_TEMPLATE: {
        auto* t = new ColorEnvelopeTemplate();
        RoundTrip(data, size, t, [] { return new ColorEnvelopeTemplate(); });
        auto* e = MakeEntity<ColorEnvelopeEntity>(t);
        for (int i = 0; i < 4; ++i) {
            e->Advance(0.37f);
            Vector c;
            e->GetLinearColor(c);
        }
        gEntityManager->DestroyEntity(e);
        delete t;
        break;
    }
    case KIND_VECTOR_ENVELOPE_TEMPLATE: {
        auto* t = new VectorEnvelopeTemplate();
        RoundTrip(data, size, t, [] { return new VectorEnvelopeTemplate(); });
        delete t;
        break;
    }
    case KIND_FLAG_TEMPLATE: {
        auto* t = new FlagTemplate();
        RoundTrip(data, size, t, [] { return new FlagTemplate(); });
        t->OnLoaded(0);
        delete t;
        break;
    }
    default: break;
    }
    return 0;
}

using FuzzAddSeed = void (*)(const uint8_t* data, size_t size);

extern "C" void FuzzSeeds(FuzzAddSeed add) {
    if (!gFlagKind) LLVMFuzzerInitialize(nullptr, nullptr);
    const auto seed = [&](uint8_t kind, const RTTIClass* cls, const void* object) {
        std::vector<uint8_t> bytes{kind};
        const std::vector<uint8_t> list = Write(cls, object);
        bytes.insert(bytes.end(), list.begin(), list.end());
        add(bytes.data(), bytes.size());
    };
    {
        CompoundTemplate t;
        CompoundTemplateElement e;
        e.name = NameString("Door");
        e.templateName = NameString("crate");
        e.locationMatrix = Matrix::IDENTITY;
        e.children.Add(e);
        t.elements.Add(e);
        seed(KIND_COMPOUND_TEMPLATE, t.GetRTTIClass(), &t);
    }
    {
        FlagTemplate t;
        t.SetName("seed");
        FlagEntity* f = MakeEntity<FlagEntity>(&t);
        FlagEntityConnection c;
        FlagEntityConnectionControlPoint p;
        p.position = Vector3(1, 0, 2);
        p.distance = 2.2f;
        c.controlPoints.Add(p);
        p.position = Vector3(2, 1, 3);
        p.distance = 3.9f;
        c.controlPoints.Add(p);
        c.length = 5.5f;
        f->connections.Add(c);
        seed(KIND_FLAG_ENTITY, f->GetRTTIClass(), f);
        seed(KIND_GRAPH_ENTITY, f->GetRTTIClass(), f);
        gEntityManager->DestroyEntity(f);
        seed(KIND_FLAG_TEMPLATE, t.GetRTTIClass(), &t);
    }
    {
        CompoundEntity* e = MakeEntity<CompoundEntity>(gCompoundKind);
        e->elementLightmaps.Resize(3);
        seed(KIND_COMPOUND_ENTITY, e->GetRTTIClass(), e);
        gEntityManager->DestroyEntity(e);
    }
    GraphTemplate graph;
    graph.texture = NameString("ribbon");
    seed(KIND_GRAPH_TEMPLATE, graph.GetRTTIClass(), &graph);
    InGameUITemplate ui;
    seed(KIND_UI_TEMPLATE, ui.GetRTTIClass(), &ui);
    ColorEnvelopeTemplate colour;
    seed(KIND_COLOR_ENVELOPE_TEMPLATE, colour.GetRTTIClass(), &colour);
    VectorEnvelopeTemplate vector;
    seed(KIND_VECTOR_ENVELOPE_TEMPLATE, vector.GetRTTIClass(), &vector);
}
