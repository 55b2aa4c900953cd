// Fuzz target: arbitrary bytes read as an effect template (its properties, then its
// definition's, elements made by class name). A blob that reads must write back bytes
// that read back to the same bytes; the elements are then resolved against a few
// registered templates (a particle template, a mesh template, a trigger) and a context
// is set up from the definition. Seeds are blobs the engine's own writer makes.
#include <cstdint>
#include <memory>
#include <vector>

#include "ProgramStaticInit.h"
#include "core/BoundedReader.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/particles/ParticleEntity.h"
#include "scene/sfx/SFXEntity.h"

namespace {

std::vector<uint8_t> Write(const SFXTemplate& t) {
    std::vector<uint8_t> out(t.SolidSerialize(nullptr, 0));
    t.SolidSerialize(out.data(), 0);
    return out;
}

SimpleGUID Guid(uint8_t id) {
    SimpleGUID g;
    g.bytes[0] = id;
    g.bytes[15] = 0x5F;
    return g;
}

// The templates element references may name: GUID bytes 1 (particles), 2 (mesh), 3 (trigger).
struct Registered {
    Registered() {
        Add(new ParticleTemplate(), 1);
        Add(new MeshTemplate(), 2);
        auto* trigger = new EntityTemplate();
        trigger->typeId = 4;
        Add(trigger, 3);
    }
    void Add(EntityTemplate* t, uint8_t id) {
        templates.emplace_back(t);
        stubs.push_back(std::make_unique<EntityTemplateStub>());
        stubs.back()->guid = Guid(id);
        stubs.back()->SetTemplate(t);
        gEntityTemplateRegistry.InsertStub(stubs.back().get());
    }
    std::vector<std::unique_ptr<EntityTemplate>> templates;
    std::vector<std::unique_ptr<EntityTemplateStub>> stubs;
};

}  // namespace

// The start-up of the linked libraries (the renderer object the set-up posts to, stopped:
// nothing is handed over) and the registered templates.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    static Registered* registered = new Registered();  // lives as long as the registry
    (void)registered;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SFXTemplate t;
    BoundedReader in(data, size);
    t.SolidDeserialize(in, 4);
    if (in.Failed()) return 0;
    const std::vector<uint8_t> out = Write(t);
    SFXTemplate back;
    BoundedReader again(out.data(), out.size());
    back.SolidDeserialize(again, 4);
    // Bytes, not PropertiesEqual: a NaN read from the input never equals itself.
    if (again.Failed() || Write(back) != out) __builtin_trap();

    // Nothing to load from files: textures and masks are left out.
    SFXDefinition& d = *t.definition;
    for (uint32_t i = 0; i < d.elements.Count(); ++i) {
        SFXElementDefinition* e = d.elements[i];
        if (auto* q = dynamic_cast<SFXQuadElementDefinition*>(e)) q->textureFileName = NameString();
        if (auto* l = dynamic_cast<SFXLightElementDefinition*>(e)) l->maskTexture = NameString();
    }
    d.ResolveElements(false);
    EntityRenderingContextSetup s;
    auto* context = new SFXContext(s, nullptr, &t, 0);
    context->Setup(&d, Matrix::IDENTITY, false, 0);
    context->Setup(&d, Matrix::IDENTITY, true, 0);
    delete context;  // no renderer: nothing was handed over
    return 0;
}

using FuzzAddSeed = void (*)(const uint8_t* data, size_t size);

extern "C" void FuzzSeeds(FuzzAddSeed add) {
    SFXTemplate t;
    std::vector<uint8_t> seed = Write(t);
    add(seed.data(), seed.size());
    auto* quad = new SFXQuadElementDefinition();
    quad->textureFramesX = 3;
    quad->frameAnimationCurve.keyTimes.Add(0);
    quad->frameAnimationCurve.keys.Add(Vector(1, 0, 0, 0));
    t.definition->AddElement(quad);
    auto* particles = new SFXParticleElementDefinition();
    particles->templateGuid = Guid(1);
    t.definition->AddElement(particles);
    auto* mesh = new SFXMeshElementDefinition();
    mesh->templateGuid = Guid(2);
    t.definition->AddElement(mesh);
    auto* wrong = new SFXMeshElementDefinition();
    wrong->templateGuid = Guid(3);
    t.definition->AddElement(wrong);
    t.definition->AddElement(new SFXPointLightElementDefinition());
    t.definition->AddElement(new SFXSpotLightElementDefinition());
    t.definition->AddElement(new SFXSoundElementDefinition());
    seed = Write(t);
    add(seed.data(), seed.size());
}
