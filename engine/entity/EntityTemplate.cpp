// EntityTemplate: properties, instance references and the script-class queries. Loading
// from files lives in EntityTemplateFiles.cpp.
#include "engine/entity/EntityTemplate.h"

#include "core/StaticInit.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "engine/script/LuaWrapper.h"
#include "render/resources/ResourceManager.h"
#include "core/rtti/DirectProperty.h"

namespace {

RTTIClass* gTemplateClass = nullptr;

const char kFaceCameraModes[] =
    "None\0Screen-full\0Camera-full\0Fix-X\0Fix-Y\0Screen fix-X\0Screen fix-Y\0Camera offset\0";
const char kPassCounts[] = "0\0" "1\0" "2\0" "3\0" "4\0" "5\0";
const char kQualityLevels[] = "Ultra low\0Low\0Medium\0High\0Very high\0";
const char kTacticalExtended[] = "Same as VR\0True\0False\0";

}  // namespace

EntityTemplate::EntityTemplate() : Resource(nullptr) {}

EntityTemplate::~EntityTemplate() {
    if (stub && stub->GetLoadedTemplate() == this) stub->DetachTemplate();
    RTTIFreeString(luaClass);
}

const RTTIClass* EntityTemplate::RegisterClass() {
    if (gTemplateClass) return gTemplateClass;
    RTTIClass* c = CreateRegisteredClass(gTemplateClass, "EntityTemplate", kRTTIRootBaseName,
                                         [](int32_t) -> RTTIPolyBaseClass* { return new EntityTemplate(); });
    c->AddProperty(new RTTIPropertyGroup("Game logic"));
    AddDirect<char*>(c, "Lua class", RTTI_OFFSETOF(EntityTemplate, luaClass));
    AddDirect<uint32_t>(c, "Initialization pass count", RTTI_OFFSETOF(EntityTemplate, initPassCount),
                        kPropertyFlagEnum, kPassCounts);
    AddDirect<bool>(c, "Activates triggers", RTTI_OFFSETOF(EntityTemplate, activatesTriggers));
    c->AddProperty(new RTTIPropertyGroup("Rendering"));
    AddDirect<uint32_t>(c, "Face camera mode", RTTI_OFFSETOF(EntityTemplate, faceCameraMode), kPropertyFlagEnum,
                        kFaceCameraModes);
    AddDirect<float>(c, "Face camera offset", RTTI_OFFSETOF(EntityTemplate, faceCameraOffset));
    AddDirect<HDRColor>(c, "Wireframe color", RTTI_OFFSETOF(EntityTemplate, wireframeColor));
    AddDirect<BoundingBox4>(c, "Static bounding box", RTTI_OFFSETOF(EntityTemplate, staticBoundingBox));
    AddDirect<float>(c, "Sort offset", RTTI_OFFSETOF(EntityTemplate, sortOffset));
    c->AddProperty(new RTTIPropertyGroup("Visibility"));
    AddDirect<uint8_t>(c, "Minimum quality level", RTTI_OFFSETOF(EntityTemplate, minimumQualityLevel),
                       kPropertyFlagEnum, kQualityLevels);
    AddDirect<bool>(c, "Visible in combat view", RTTI_OFFSETOF(EntityTemplate, visibleInCombatView));
    AddDirect<bool>(c, "Visible in tactical view", RTTI_OFFSETOF(EntityTemplate, visibleInTacticalView));
    AddDirect<uint8_t>(c, "Visible in tactical extended", RTTI_OFFSETOF(EntityTemplate, visibleInTacticalExtended),
                       kPropertyFlagEnum, kTacticalExtended);
    return c;
}

const RTTIClass* EntityTemplate::GetRTTIClass() const { return RegisterClass(); }

void EntityTemplate::NotifyEntitiesOfChange() {
    for (Entity* e = Entity::FirstLive(); e; e = e->NextLive())
        if (e->GetTemplate() == this) e->RefreshAfterChange();
}

Entity* EntityTemplate::CreateEntity() { return new Entity(); }

void EntityTemplate::QueueRequest(uint32_t) { gResourceManager.QueueLoad(this); }

const char* EntityTemplate::GetScriptClassName() const {
    return luaClass && *luaClass ? luaClass : GetEntityClassName();
}

bool EntityTemplate::IsLoadedClientSide() {
    if (!gLua.ExecuteStaticFunction(GetScriptClassName(), "IsLoadedClientSide", 0, 1)) return false;
    const bool result = gLua.ToBool(-1);
    gLua.Pop(1);
    return result;
}

void EntityTemplate::ReleaseInstanceRef() {
    if (instanceCount) --instanceCount;
    if (instanceCount == 0 && (GetFlags() & kTemplateFlagUnloadWithLastEntity) && stub) stub->ReleaseTemplate();
}

Resource* TemplateResourcePart(RTTIPolyBaseClass* object) {
    EntityTemplate* t = dynamic_cast<EntityTemplate*>(object);
    return t ? static_cast<Resource*>(t) : nullptr;
}

EntityTemplate* TemplateFromResource(Resource* resource) {
    return resource && resource->GetResourceType() == RESOURCE_TEMPLATE ? static_cast<EntityTemplate*>(resource)
                                                                        : nullptr;
}

