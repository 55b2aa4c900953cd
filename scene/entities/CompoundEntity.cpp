// Compound templates and entities: the element tree, its template references and box,
// and the element entities made from it.
#include "scene/entities/CompoundEntity.h"

#include <cstring>
#include <deque>
#include <string>
#include <utility>

#include "core/math/BoundingBox4.h"
#include "core/rtti/DirectProperty.h"
#include "core/rtti/RTTIArrayProperty.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "engine/script/LuaWrapper.h"
#include "engine/services/GameServices.h"
#include "render/VornexRenderer.h"
#include "scene/mesh/MeshEntity.h"
#include "scene/mesh/MeshTemplate.h"

namespace {

RTTIClass* gCompoundElementClass = nullptr;
RTTIClass* gCompoundTemplateClass = nullptr;
RTTIClass* gCompoundEntityClass = nullptr;

constexpr uint32_t kCompoundDefinitionFlags = 256;
constexpr uint32_t kCompoundLocalBoxFlags = 2;
constexpr uint32_t kCompoundMultiplayerCreation =
    ENTITYCREATION_MULTIPLAYER_AUTHORITY | ENTITYCREATION_MULTIPLAYER_PROXY | ENTITYCREATION_MULTIPLAYER_STATIC;
const char kCompoundDefaultDefinition[] =
    "<Component Name=\"Test\" Template=\"test/test\" Position=\"0 0 0\" Rotation=\"0 0 0\" Scale=\"1 1 1\" />\n";

// Depth-first helper walk: each element's matrix goes first, then the incoming one.
template <class Draw>
bool DrawElements(const DynarraySafe<CompoundTemplateElement>& list, const Matrix& m, Draw&& draw) {
    bool drew = false;
    for (const CompoundTemplateElement& e : list) {
        Matrix combined;
        combined.Mul(m, e.locationMatrix);
        if (e.entityTemplate && draw(e, combined)) drew = true;
        if (DrawElements(e.children, combined, draw)) drew = true;
    }
    return drew;
}

}  // namespace

// ---------------------------------------------------------------------------------
// CompoundTemplateElement

CompoundTemplateElement::CompoundTemplateElement(const CompoundTemplateElement& o)
    : name(o.name), templateName(o.templateName), shaderPreset(o.shaderPreset), locationMatrix(o.locationMatrix),
      children(o.children) {
    SetTemplate(o.entityTemplate);
}

CompoundTemplateElement::CompoundTemplateElement(CompoundTemplateElement&& o) noexcept
    : name(o.name), templateName(o.templateName), shaderPreset(o.shaderPreset), locationMatrix(o.locationMatrix),
      children(o.children), entityTemplate(o.entityTemplate) {
    o.entityTemplate = nullptr;
}

CompoundTemplateElement& CompoundTemplateElement::operator=(const CompoundTemplateElement& o) {
    if (this == &o) return *this;
    name = o.name, templateName = o.templateName, shaderPreset = o.shaderPreset;
    locationMatrix = o.locationMatrix;
    children = o.children;
    SetTemplate(o.entityTemplate);
    return *this;
}

CompoundTemplateElement::~CompoundTemplateElement() { SetTemplate(nullptr); }

void CompoundTemplateElement::SetTemplate(EntityTemplate* t) {
    if (t) t->AddRef();
    if (entityTemplate) entityTemplate->Release();
    entityTemplate = t;
}

const RTTIClass* CompoundTemplateElement::RegisterClass() {
    if (gCompoundElementClass) return gCompoundElementClass;
    RTTIClass* c = CreateRegisteredClass(gCompoundElementClass, "CompoundTemplateElement", "RTTIPropertiesBase");
    using E = CompoundTemplateElement;
    AddDirect<NameString>(c, "Name", RTTI_OFFSETOF(E, name));
    AddDirect<NameString>(c, "Template name", RTTI_OFFSETOF(E, templateName));
    AddDirect<Matrix>(c, "Location matrix", RTTI_OFFSETOF(E, locationMatrix));
    AddDirect<NameString>(c, "Shader preset", RTTI_OFFSETOF(E, shaderPreset));
    c->AddProperty(new RTTIDynarrayOfEmbeddedObjectsProperty<DynarraySafe<E>>("Children", RTTI_OFFSETOF(E, children),
                                                                               c));
    return c;
}

// ---------------------------------------------------------------------------------
// CompoundTemplate

CompoundTemplate::CompoundTemplate() {
    typeId = ENTITY_COMPOUND;
    char* text = const_cast<char*>(kCompoundDefaultDefinition);
    RTTIValueStore<char*>::Assign(definition, text);
}

CompoundTemplate::~CompoundTemplate() {
    RTTIFreeString(definition);
    elements.Clear();
}

const RTTIClass* CompoundTemplate::RegisterClass() {
    if (gCompoundTemplateClass) return gCompoundTemplateClass;
    EntityTemplate::RegisterClass();
    const RTTIClass* element = CompoundTemplateElement::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gCompoundTemplateClass, "CompoundTemplate", "EntityTemplate",
                                         [](int32_t) -> RTTIPolyBaseClass* { return new CompoundTemplate(); });
    AddDirect<char*>(c, "Definition", RTTI_OFFSETOF(CompoundTemplate, definition), kCompoundDefinitionFlags);
    c->AddProperty(new RTTIDynarrayOfEmbeddedObjectsProperty<DynarraySafe<CompoundTemplateElement>>(
        "Elements", RTTI_OFFSETOF(CompoundTemplate, elements), element));
    return c;
}

const RTTIClass* CompoundTemplate::GetRTTIClass() const { return RegisterClass(); }

Entity* CompoundTemplate::CreateEntity() { return new CompoundEntity(); }

void CompoundTemplate::OnPropertyChanged(const char*) {
    NotifyEntitiesOfChange();
    // The element array stays: clearing it here would leave every compound of this
    // template empty after any property change.
    ResolveElementTemplates();
    RebuildEntities();
}

void CompoundTemplate::CollectElementTemplates(const CompoundTemplateElement& element,
                                               std::vector<EntityTemplate*>& out) {
    std::deque<const CompoundTemplateElement*> queue{&element};
    while (!queue.empty()) {
        const CompoundTemplateElement* e = queue.front();
        queue.pop_front();
        out.push_back(e->entityTemplate);
        for (const CompoundTemplateElement& child : e->children) queue.push_back(&child);
    }
}

void CompoundTemplate::PropagateToElementTemplates() {
    for (const CompoundTemplateElement& e : elements) {
        std::vector<EntityTemplate*> found;
        CollectElementTemplates(e, found);
        for (EntityTemplate* t : found)
            if (t) t->PreloadReferencedResources();
    }
}

void CompoundTemplate::QueueRequest(uint32_t argument) {
    EntityTemplate::QueueRequest(argument);
    for (const CompoundTemplateElement& e : elements) {
        std::vector<EntityTemplate*> found;
        CollectElementTemplates(e, found);
        for (EntityTemplate* t : found)
            if (t) t->EntityTemplate::QueueRequest(argument);
    }
}

bool CompoundTemplate::DrawHelper(const Matrix& m, const Vector& colour, uint32_t flags, const char*) {
    return DrawElements(elements, m, [&](const CompoundTemplateElement& e, const Matrix& at) {
        return e.entityTemplate->DrawHelper(at, colour, flags, e.shaderPreset.CStr());
    });
}

bool CompoundTemplate::DrawHelperParts(const Matrix& m, uint32_t flags) {
    return DrawElements(elements, m, [&](const CompoundTemplateElement& e, const Matrix& at) {
        if (auto* mesh = dynamic_cast<MeshTemplate*>(e.entityTemplate)) return mesh->DrawHelperParts(at, flags);
        if (auto* compound = dynamic_cast<CompoundTemplate*>(e.entityTemplate))
            return compound->DrawHelperParts(at, flags);
        return false;
    });
}

void CompoundTemplate::ResolveAll(bool acquire) {
    BoundingBox4 box = BoundingBox4::INVALID;
    bool any = false;
    struct Pending {
        CompoundTemplateElement* element;
        Matrix parents;
    };
    for (CompoundTemplateElement& top : elements) {
        std::deque<Pending> queue{{&top, Matrix::IDENTITY}};
        while (!queue.empty()) {
            Pending p = queue.front();
            queue.pop_front();
            CompoundTemplateElement& e = *p.element;
            EntityTemplate* t = nullptr;
            const char* name = e.templateName.CStr();
            if (name && *name) {
                t = acquire ? gEntityTemplateRegistry.AcquireTemplateByName(name, 0)
                            : gEntityTemplateRegistry.FindTemplateByName(name, true);
            }
            if (acquire) {
                // The registry's acquire already counted this reference.
                if (e.entityTemplate) e.entityTemplate->Release();
                e.entityTemplate = t;
            } else {
                e.SetTemplate(t);
            }
            // The element's matrix composed with its parents', as the entity tree does.
            Matrix at;
            at.Mul(p.parents, e.locationMatrix);
            if (t) {
                box.Expand3D(t->staticBoundingBox, at);
                any = true;
            }
            for (CompoundTemplateElement& child : e.children) queue.push_back({&child, at});
        }
    }
    if (any) staticBoundingBox = box;
}

bool CompoundTemplate::LoadResource() {
    const bool loaded = EntityTemplate::LoadResource();
    if (!loaded) return loaded;
    ResolveAll(true);
    return loaded;
}

void CompoundTemplate::ResolveElementTemplates() { ResolveAll(false); }

void CompoundTemplate::ClearElements() {
    elements.Clear();
    ResolveElementTemplates();
}

void CompoundTemplate::RebuildEntities() {
    std::vector<CompoundEntity*> found;
    for (Entity* e = Entity::FirstLive(); e; e = e->NextLive())
        if (e->GetTemplate() == this && e->IsCompound())
            if (auto* c = dynamic_cast<CompoundEntity*>(e)) found.push_back(c);
    for (CompoundEntity* c : found) {
        c->DestroyElements();
        c->CreateElements(0);
        c->OnLayerApplied();
    }
}

// ---------------------------------------------------------------------------------
// CompoundEntity

CompoundEntity::CompoundEntity() = default;

const RTTIClass* CompoundEntity::RegisterClass() {
    if (gCompoundEntityClass) return gCompoundEntityClass;
    Entity::RegisterClass();
    const RTTIClass* lightmap = LightmapMapping::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gCompoundEntityClass, "CompoundEntity", "Entity");
    AddDirect<HDRColor>(c, "Local color", RTTI_OFFSETOF(CompoundEntity, localColor));
    c->AddProperty(new RTTISGProperty<BoundingBox4, CompoundEntity>("Local bounding box", &CompoundEntity::LocalBox,
                                                                    &CompoundEntity::SetLocalBox,
                                                                    kCompoundLocalBoxFlags));
    c->AddProperty(new RTTIDynarrayOfEmbeddedObjectsProperty<DynarraySafe<LightmapMapping>>(
        "ElemLmMappingArr", RTTI_OFFSETOF(CompoundEntity, elementLightmaps), lightmap));
    return c;
}

const RTTIClass* CompoundEntity::GetRTTIClass() const { return RegisterClass(); }

template <class F>
void CompoundEntity::ForEachElementDescendant(F&& f) {
    std::deque<Entity*> queue;
    for (uint32_t i = 0; i < GetChildrenCount(); ++i) queue.push_back(GetChild(i));
    while (!queue.empty()) {
        Entity* e = queue.front();
        queue.pop_front();
        for (uint32_t i = 0; i < e->GetChildrenCount(); ++i) queue.push_back(e->GetChild(i));
        if (e->CheckFlag(ENTITYFLAG_COMPOUNDELEMENT)) f(e);
    }
}

bool CompoundEntity::ElementChildrenBox(BoundingBox4& out) const {
    BoundingBox4 box = BoundingBox4::INVALID;
    bool any = false;
    for (uint32_t i = 0; i < GetChildrenCount(); ++i) {
        Entity* child = GetChild(i);
        if (!child->CheckFlag(ENTITYFLAG_COMPOUNDELEMENT)) continue;
        box.Expand3D(child->GetLocalBoundingBox(), child->GetLocalLocationMatrix());
        any = true;
    }
    if (any) out = box;
    return any;
}

void CompoundEntity::RebuildElements() {
    RefreshAfterChange();
    DestroyElements();
    CreateElements(0);
    OnLayerApplied();
}

void CompoundEntity::OnPropertyChanged(const char*) { RebuildElements(); }

void CompoundEntity::OnLoaded(uint32_t options) {
    const uint32_t count = GetChildrenCount();
    elementLightmaps.Resize(count);
    for (uint32_t i = 0; i < count && i < elementLightmaps.Count(); ++i) {
        Entity* child = GetChild(i);
        if (!child->IsMesh()) continue;
        if (auto* mesh = dynamic_cast<MeshEntity*>(child)) {
            mesh->lightmapMapping = elementLightmaps[i];
            if (auto* context = dynamic_cast<MeshEntityRenderingContext*>(mesh->GetRenderingContext()))
                context->PostLightmap(elementLightmaps[i]);
        }
    }
    Entity::OnLoaded(options);
    PropagateGlobalLocation();
}

void CompoundEntity::UpdateLocalBoundingBox() {
    BoundingBox4 box;
    if (!ElementChildrenBox(box)) return;
    SetLocalBoundingBox(box);
    PropagateGlobalLocation();
}

void CompoundEntity::InitFromTemplate(EntityTemplate* t, uint32_t creationFlags) {
    Entity::InitFromTemplate(t, creationFlags);
    CreateElements(creationFlags & ~kCompoundMultiplayerCreation);
}

void CompoundEntity::RefreshElementIdentity() {
    ForEachElementDescendant([this](Entity* e) {
        if (e->GetGUID() == SimpleGUID()) {
            e->GenerateGUID();
            e->RecreateRenderingContext(false);
        }
        if (e->IsMesh())
            if (auto* mesh = dynamic_cast<MeshEntity*>(e)) mesh->SetLocalColor(localColor);
    });
}

void CompoundEntity::SetLayer(uint8_t layerId) {
    Entity::SetLayer(layerId);
    ForEachElementDescendant([layerId](Entity* e) { e->SetLayer(layerId); });
}

void CompoundEntity::InitTriggerActivation() {
    Entity::InitTriggerActivation();
    ForEachElementDescendant([](Entity* e) { e->InitTriggerActivation(); });
    const EntityTemplate* t = GetTemplate();
    const GameServices& game = GetGameServices();
    if (t && t->initPassCount > 0 && game.HasEntityCreationListener() && game.ListenerAllowsScripts())
        gLua.CallObjectMethod(this, "InitCompoundEntity");
}

void CompoundEntity::DrawHelpers(uint32_t flags) {
    Entity::DrawHelpers(flags);
    for (uint32_t i = 0; i < GetChildrenCount(); ++i)
        if (GetChild(i)->CheckFlag(ENTITYFLAG_COMPOUNDELEMENT)) return;
    const Vector colour = GetTemplate() ? GetTemplate()->wireframeColor.ToVector() : Vector(1, 1, 1, 1);
    gVornexRenderer.DebugDrawBoundingBox(GetLocalBoundingBox(), GetGlobalLocationMatrix(), colour);
}

void CompoundEntity::OnLayerApplied() {
    ForEachElementDescendant([](Entity* e) { e->OnLayerApplied(); });
}

void CompoundEntity::DrawBoundingBox(const BoundingBox4& box, const HDRColor& color) {
    Entity::DrawBoundingBox(box, color);
    BoundingBox4 elementsBox = BoundingBox4::INVALID;
    ElementChildrenBox(elementsBox);
    gVornexRenderer.DebugDrawBoundingBox(elementsBox, GetGlobalLocationMatrix(), color.ToVector());
}

void CompoundEntity::CreateElements(uint32_t creationFlags) {
    if (elementsCreated) return;
    elementsCreated = true;
    if (CheckFlag(kCompoundSuppressElements)) return;
    if (auto* t = dynamic_cast<CompoundTemplate*>(GetTemplate())) CreateElementEntities(t->elements, this, creationFlags);
    BoundingBox4 box;
    if (ElementChildrenBox(box)) SetLocalBoundingBox(box);
}

void CompoundEntity::CreateElementEntities(const DynarraySafe<CompoundTemplateElement>& list, Entity* parent,
                                           uint32_t creationFlags) {
    for (const CompoundTemplateElement& element : list) {
        const char* templateName = element.templateName.CStr();
        Entity* e = gEntityManager->CreateEntity(templateName ? templateName : "", parent, element.locationMatrix,
                                                 creationFlags, nullptr);
        if (!e) continue;
        e->RaiseFlag(ENTITYFLAG_COMPOUNDELEMENT, false);
        const char* elementName = element.name.CStr();
        if (elementName && *elementName) {
            std::string full = "~";
            full += elementName;
            if (full.size() > kCompoundMaxElementName) full.resize(kCompoundMaxElementName);
            e->SetName(full.c_str());
        }
        if (e->IsMesh())
            if (auto* mesh = dynamic_cast<MeshEntity*>(e)) {
                mesh->SetShaderPreset(element.shaderPreset);
                mesh->SetLocalColor(localColor);
            }
        CreateElementEntities(element.children, e, creationFlags);
    }
}

void CompoundEntity::DestroyElements() {
    if (!elementsCreated) return;
    for (uint32_t i = GetChildrenCount(); i-- > 0;) {
        if (i >= GetChildrenCount()) continue;
        Entity* child = GetChild(i);
        if (child->CheckFlag(ENTITYFLAG_COMPOUNDELEMENT)) gEntityManager->DestroyEntity(child);
    }
    elementsCreated = false;
}
