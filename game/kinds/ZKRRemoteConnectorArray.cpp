// The remote connector array's records and accessors.
#include "game/kinds/ZKRRemoteConnectorArray.h"

#include "core/Log.h"
#include "game/kinds/GameTypes.h"

namespace {

RTTIClass* gConnectorTemplateClass = nullptr;
RTTIClass* gConnectorEntityClass = nullptr;

constexpr uint32_t kOutIndexBits = 32;

}  // namespace

ZKRRemoteConnectorArrayTemplate::ZKRRemoteConnectorArrayTemplate() { typeId = ENTITY_ZKR_REMOTECONNECTORARRAY; }

const RTTIClass* ZKRRemoteConnectorArrayTemplate::RegisterRTTIClass(const char* name) {
    if (gConnectorTemplateClass) return gConnectorTemplateClass;
    EntityTemplate::RegisterClass();
    return CreateRegisteredClass(gConnectorTemplateClass, name ? name : "ZKRRemoteConnectorArrayTemplate",
                                 "EntityTemplate", &CreateGameObject<ZKRRemoteConnectorArrayTemplate>);
}

const RTTIClass* ZKRRemoteConnectorArrayTemplate::GetRTTIClass() const { return RegisterRTTIClass(); }
Entity* ZKRRemoteConnectorArrayTemplate::CreateEntity() { return NewGameEntity<ZKRRemoteConnectorArrayEntity>(); }

const RTTIClass* ZKRRemoteConnectorArrayEntity::RegisterRTTIClass(const char* name) {
    if (gConnectorEntityClass) return gConnectorEntityClass;
    Entity::RegisterClass();
    return CreateRegisteredClass(gConnectorEntityClass, name ? name : "ZKRRemoteConnectorArrayEntity", "Entity");
}

const RTTIClass* ZKRRemoteConnectorArrayEntity::GetRTTIClass() const { return RegisterRTTIClass(); }

ZKRRemoteConnectorArrayEntity::Connector* ZKRRemoteConnectorArrayEntity::At(uint32_t index,
                                                                           const char* operation) const {
    if (index < kConnectors) return &connectors[index];
    if (!warned) {
        warned = true;
        gLog.Warning(LogCategory::Script,
                   "ZKRRemoteConnectorArrayEntity::%s - connector index %u is not below %u", operation, index,
                   kConnectors);
    }
    return nullptr;
}

void ZKRRemoteConnectorArrayEntity::SetMarked(uint32_t index, bool value) {
    if (Connector* c = At(index, "SetMarked")) c->marked = value;
}

bool ZKRRemoteConnectorArrayEntity::IsMarked(uint32_t index) const {
    const Connector* c = At(index, "IsMarked");
    return c ? c->marked : Connector().marked;
}

void ZKRRemoteConnectorArrayEntity::SetDisabled(uint32_t index, bool value) {
    if (Connector* c = At(index, "SetDisabled")) c->disabled = value;
}

bool ZKRRemoteConnectorArrayEntity::IsDisabled(uint32_t index) const {
    const Connector* c = At(index, "IsDisabled");
    return c ? c->disabled : Connector().disabled;
}

void ZKRRemoteConnectorArrayEntity::SetActiveOutFlagIndex(uint32_t index, uint32_t value) {
    if (Connector* c = At(index, "SetActiveOutFlagIndex")) c->activeOutFlagIndex = value;
}

uint32_t ZKRRemoteConnectorArrayEntity::GetActiveOutFlagIndex(uint32_t index) const {
    const Connector* c = At(index, "GetActiveOutFlagIndex");
    return c ? c->activeOutFlagIndex : Connector().activeOutFlagIndex;
}

void ZKRRemoteConnectorArrayEntity::SetOutIndexDisabled(uint32_t index, uint32_t outIndex, bool value) {
    Connector* c = At(index, "SetOutIndexDisabled");
    if (!c) return;
    const uint32_t bit = 1u << (outIndex % kOutIndexBits);
    if (value) c->disabledOutMask |= bit;
    else c->disabledOutMask &= ~bit;
}

bool ZKRRemoteConnectorArrayEntity::IsOutIndexDisabled(uint32_t index, uint32_t outIndex) const {
    const Connector* c = At(index, "IsOutIndexDisabled");
    const uint32_t mask = c ? c->disabledOutMask : Connector().disabledOutMask;
    return (mask >> (outIndex % kOutIndexBits)) & 1u;
}
