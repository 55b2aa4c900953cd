#include "engine/entity/EntityLayers.h"

#include <cstring>

#include "core/StaticInit.h"
#include "core/rtti/RTTIArrayProperty.h"
#include "core/rtti/RTTIProperty.h"
#include "core/rtti/DirectProperty.h"

namespace {

EntityLayer* gLayerTable[kLayerCount] = {};
RTTIClass* gLayerClass = nullptr;
RTTIClass* gLayerGroupClass = nullptr;
RTTIClass* gLayerSystemClass = nullptr;

bool Same(const char* a, const char* b) {
    return std::strcmp(a ? a : "", b ? b : "") == 0;
}

// "Proprietary color set" follows the edited colour (true for black or zero intensity).
bool ColorMarksProprietary(const HDRColor& c) {
    return (c.c[0] == 0 && c.c[1] == 0 && c.c[2] == 0) || c.intensity == 0.0f;
}

void SetInGame(EntityLayerGroup* g, bool visible) {
    for (EntityLayer* l : g->layers) l->visibleInGame = visible;
    for (EntityLayerGroup* child : g->children) SetInGame(child, visible);
}

void SpreadColor(EntityLayerGroup* g, const HDRColor& color) {
    for (EntityLayer* l : g->layers)
        if (!l->proprietaryColorSet) l->color = color;
    for (EntityLayerGroup* child : g->children) {
        if (child->proprietaryColorSet) continue;
        child->color = color;
        SpreadColor(child, color);
    }
}

template <class Test>
void BuildMask(uint32_t mask[kLayerMaskWords], bool bitZero, Test test) {
    std::memset(mask, 0, kLayerMaskWords * sizeof(uint32_t));
    if (bitZero) mask[0] = 1;
    for (uint32_t i = 1; i < kLayerCount; ++i)
        if (test(gLayerTable[i])) mask[i / 32] |= 1u << (i % 32);
}

}  // namespace

// ---------------------------------------------------------------------------------

EntityLayer::~EntityLayer() {
    if (id && gLayerTable[id] == this) gLayerTable[id] = nullptr;
    RTTIFreeString(name);
}

const RTTIClass* EntityLayer::RegisterClass() {
    if (gLayerClass) return gLayerClass;
    RTTIClass* c = CreateRegisteredClass(gLayerClass, "EntityLayer", kRTTIRootBaseName,
                                         [](int32_t) -> RTTIPolyBaseClass* { return new EntityLayer(); });
    AddDirect<char*>(c, "Name", RTTI_OFFSETOF(EntityLayer, name));
    AddDirect<SimpleGUID>(c, "GUID", RTTI_OFFSETOF(EntityLayer, guid));
    AddDirect<bool>(c, "Visible", RTTI_OFFSETOF(EntityLayer, visible));
    AddDirect<bool>(c, "Frozen", RTTI_OFFSETOF(EntityLayer, frozen));
    AddDirect<bool>(c, "Visible in game", RTTI_OFFSETOF(EntityLayer, visibleInGame));
    AddDirect<bool>(c, "Persistent", RTTI_OFFSETOF(EntityLayer, persistent));
    AddDirect<bool>(c, "Proprietary color set", RTTI_OFFSETOF(EntityLayer, proprietaryColorSet));
    AddDirect<bool>(c, "Selection editor selected", RTTI_OFFSETOF(EntityLayer, selectionEditorSelected));
    AddDirect<HDRColor>(c, "Color", RTTI_OFFSETOF(EntityLayer, color));
    c->AddProperty(new RTTISGProperty<uint8_t, EntityLayer, uint8_t, uint8_t>("Id", &EntityLayer::GetId, &EntityLayer::SetId));
    AddDirect<float>(c, "Optimization sector size", RTTI_OFFSETOF(EntityLayer, optimizationSectorSize));
    AddDirect<uint32_t>(c, "UserData", RTTI_OFFSETOF(EntityLayer, userData));
    c->AddProperty(new RTTIPropertyGroup("Platforms"));
    AddDirect<bool>(c, "Present in iPhone build", RTTI_OFFSETOF(EntityLayer, presentInIPhoneBuild));
    AddDirect<bool>(c, "Present in iPad build", RTTI_OFFSETOF(EntityLayer, presentInIPadBuild));
    return c;
}

const RTTIClass* EntityLayer::GetRTTIClass() const { return RegisterClass(); }

void EntityLayer::SetId(uint8_t newId) {
    if (newId == id) return;
    if (id && gLayerTable[id] == this) gLayerTable[id] = nullptr;
    id = newId;
    if (id) gLayerTable[id] = this;
}

void EntityLayer::OnPropertyEdited(const char* propertyName, const void*) {
    if (propertyName && std::strcmp(propertyName, "Color") == 0) proprietaryColorSet = ColorMarksProprietary(color);
}

// ---------------------------------------------------------------------------------

EntityLayerGroup::~EntityLayerGroup() {
    DeleteContents();
    RTTIFreeString(name);
}

void EntityLayerGroup::DeleteContents() {
    for (EntityLayerGroup* g : children) delete g;
    for (EntityLayer* l : layers) delete l;
    children.Release();
    layers.Release();
}

const RTTIClass* EntityLayerGroup::RegisterClass() {
    if (gLayerGroupClass) return gLayerGroupClass;
    EntityLayer::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gLayerGroupClass, "EntityLayerGroup", kRTTIRootBaseName,
                                         [](int32_t) -> RTTIPolyBaseClass* { return new EntityLayerGroup(); });
    AddDirect<char*>(c, "Name", RTTI_OFFSETOF(EntityLayerGroup, name));
    AddDirect<HDRColor>(c, "Color", RTTI_OFFSETOF(EntityLayerGroup, color));
    AddDirect<bool>(c, "Proprietary color set", RTTI_OFFSETOF(EntityLayerGroup, proprietaryColorSet));
    AddDirect<bool>(c, "Expanded", RTTI_OFFSETOF(EntityLayerGroup, expanded));
    c->AddProperty(new RTTIDynarrayOfEmbeddedObjectPointersProperty<Dynarray<EntityLayerGroup*>>(
        "Children", RTTI_OFFSETOF(EntityLayerGroup, children)));
    c->AddProperty(new RTTIDynarrayOfEmbeddedObjectPointersProperty<Dynarray<EntityLayer*>>(
        "Layers", RTTI_OFFSETOF(EntityLayerGroup, layers)));
    return c;
}

const RTTIClass* EntityLayerGroup::GetRTTIClass() const { return RegisterClass(); }

void EntityLayerGroup::OnPropertyEdited(const char* propertyName, const void*) {
    if (!propertyName || std::strcmp(propertyName, "Color") != 0) return;
    proprietaryColorSet = ColorMarksProprietary(color);
    SpreadColor(this, color);
}

// ---------------------------------------------------------------------------------

EntityLayerSystem::EntityLayerSystem() { Reset(); }

EntityLayerSystem::~EntityLayerSystem() = default;

const RTTIClass* EntityLayerSystem::RegisterClass() {
    if (gLayerSystemClass) return gLayerSystemClass;
    EntityLayerGroup::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gLayerSystemClass, "EntityLayerSystem", kRTTIRootBaseName,
                                         [](int32_t) -> RTTIPolyBaseClass* { return new EntityLayerSystem(); });
    c->AddProperty(new RTTIEmbeddedObjectProperty<EntityLayerGroup>("Root", RTTI_OFFSETOF(EntityLayerSystem, root)));
    AddDirect<uint8_t>(c, "ActiveLayerId", RTTI_OFFSETOF(EntityLayerSystem, activeLayerId));
    return c;
}

const RTTIClass* EntityLayerSystem::GetRTTIClass() const { return RegisterClass(); }

void EntityLayerSystem::Reset() {
    activeLayerId = 0;
    root.DeleteContents();
    RTTIValueStore<char*>::Assign(root.name, const_cast<char*>("LAYERS"));
    root.expanded = true;
    EntityLayer* def = new EntityLayer();
    RTTIValueStore<char*>::Assign(def->name, const_cast<char*>("Default"));
    def->guid.Generate();
    def->SetId(1);
    root.layers.Add(def);
    activeLayerId = 1;
}

EntityLayer* EntityLayerSystem::FindLayerByName(const EntityLayerGroup* group, const char* layerName) {
    for (EntityLayer* l : group->layers)
        if (Same(l->name, layerName)) return l;
    for (const EntityLayerGroup* g : group->children)
        if (EntityLayer* l = FindLayerByName(g, layerName)) return l;
    return nullptr;
}

EntityLayerGroup* EntityLayerSystem::FindLayerGroupByName(const EntityLayerGroup* group, const char* groupName) {
    for (EntityLayerGroup* g : group->children)
        if (Same(g->name, groupName)) return g;
    for (const EntityLayerGroup* g : group->children)
        if (EntityLayerGroup* found = FindLayerGroupByName(g, groupName)) return found;
    return nullptr;
}

void EntityLayerSystem::HideLayerInGame(const char* layerName, bool hide) {
    if (EntityLayer* l = FindLayerByName(layerName)) l->visibleInGame = !hide;
}

void EntityLayerSystem::HideLayerGroupInGame(const char* groupName, bool hide) {
    if (EntityLayerGroup* g = FindLayerGroupByName(&root, groupName)) SetInGame(g, !hide);
}

void EntityLayerSystem::BuildVisibleLayerMask(uint32_t mask[kLayerMaskWords]) {
    BuildMask(mask, true, [](const EntityLayer* l) { return !l || l->visible; });
}

void EntityLayerSystem::BuildInGameVisibleLayerMask(uint32_t mask[kLayerMaskWords]) {
    BuildMask(mask, true, [](const EntityLayer* l) { return !l || l->visibleInGame; });
}

void EntityLayerSystem::BuildFrozenLayerMask(uint32_t mask[kLayerMaskWords]) {
    BuildMask(mask, false, [](const EntityLayer* l) { return l && l->frozen; });
}

EntityLayer* EntityLayerSystem::LayerById(uint8_t id) { return id ? gLayerTable[id] : nullptr; }
