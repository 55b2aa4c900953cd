// Arbitrary bytes as the property list of a game class, then its after-load hooks and
// every accessor that reads what was loaded. Byte 0 picks the class (the game's template
// rows; odd values the template's entity), byte 1 the phone-trigger type, the rest is the
// list. Seeds are the defaults of every class, as the engine writes them.
#include <cstdint>
#include <memory>
#include <vector>

#include "ProgramStaticInit.h"
#include "core/BoundedReader.h"
#include "core/rtti/RTTIClass.h"
#include "engine/entity/EntityTemplate.h"
#include "game/kinds/GameKindSupport.h"
#include "game/kinds/GameTypes.h"
#include "game/kinds/ZKREffect.h"
#include "game/kinds/ZKRMarkers.h"
#include "game/kinds/ZKRSmallKinds.h"
#include "game/kinds/ZKRTriggers.h"

namespace {

constexpr uint32_t kRowCount = sizeof(kGameTypeRows) / sizeof(kGameTypeRows[0]);
constexpr uint32_t kPhoneTypes = 12;

std::unique_ptr<EntityTemplate> NewTemplate(uint8_t select, uint8_t phoneType) {
    const GameTypeRow& row = kGameTypeRows[(select >> 1) % kRowCount];
    std::unique_ptr<EntityTemplate> t(dynamic_cast<EntityTemplate*>(NameRegistry::CreateObject(row.templateClass)));
    if (auto* phone = dynamic_cast<ZKRiPhoneTriggerTemplate*>(t.get())) phone->triggerType = phoneType % kPhoneTypes;
    return t;
}

std::vector<uint8_t> Written(const RTTIPolyBaseClass& object) {
    std::vector<uint8_t> out(object.SolidSerialize(nullptr, 0));
    object.SolidSerialize(out.data(), 0);
    return out;
}

// Every accessor that reads a loaded value; the results only have to be computable.
void ReadBack(RTTIPolyBaseClass* object) {
    volatile size_t sink = 0;
    const auto text = [&](const char* s) { sink = sink + (s ? s[0] : 0); };
    if (auto* t = dynamic_cast<ZKRTowerMarkerTemplate*>(object)) text(ReferencedTemplateName(t->towerTemplateName, true));
    if (auto* t = dynamic_cast<ZKRPlayerMarkerTemplate*>(object)) text(ReferencedTemplateName(t->heroTemplateName, true));
    if (auto* t = dynamic_cast<ZKRObstacleMarkerTemplate*>(object))
        text(ReferencedTemplateName(t->obstacleTemplateName, true));
    if (auto* e = dynamic_cast<ZKRTowerMarkerEntity*>(object)) text(e->GetEmergenceEffectType());
    if (auto* e = dynamic_cast<ZKRCheckpointEntity*>(object)) text(e->GetTowerAwarenessType());
    if (auto* e = dynamic_cast<ZKRiPhoneTriggerEntity*>(object)) sink = sink + e->GetMode();
    if (auto* e = dynamic_cast<ZKRDamageSurfaceEntity*>(object)) {
        text(e->GetDamageType());
        sink = sink + size_t(e->GetDamagePerSec() > 0.0f);
    }
    if (auto* e = dynamic_cast<ZKRVersusPlayerMarkerEntity*>(object)) text(e->GetLocalizedName());
    if (auto* e = dynamic_cast<ZKREffectEntity*>(object)) sink = sink + e->IsStarted();
    // A loaded template makes its entity (the phone template by its loaded type).
    if (auto* t = dynamic_cast<EntityTemplate*>(object)) std::unique_ptr<Entity>(t->CreateEntity());
    (void)Written(*object).size();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    return 0;
}

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    for (uint32_t select = 0; select < 2 * kRowCount; ++select) {
        for (uint8_t phoneType : {uint8_t(0), uint8_t(2), uint8_t(5), uint8_t(9), uint8_t(10)}) {
            std::unique_ptr<EntityTemplate> t = NewTemplate(uint8_t(select), phoneType);
            if (!t) continue;
            std::unique_ptr<Entity> e((select & 1) ? t->CreateEntity() : nullptr);
            const RTTIPolyBaseClass* object = (select & 1) ? static_cast<RTTIPolyBaseClass*>(e.get()) : t.get();
            if (!object) continue;
            std::vector<uint8_t> bytes{uint8_t(select), phoneType};
            const std::vector<uint8_t> list = Written(*object);
            bytes.insert(bytes.end(), list.begin(), list.end());
            add(bytes.data(), bytes.size());
            if (!dynamic_cast<const ZKRiPhoneTriggerTemplate*>(t.get())) break;
        }
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    std::unique_ptr<EntityTemplate> t = NewTemplate(data[0], data[1]);
    if (!t) return 0;
    std::unique_ptr<Entity> e((data[0] & 1) ? t->CreateEntity() : nullptr);
    RTTIPolyBaseClass* object = (data[0] & 1) ? static_cast<RTTIPolyBaseClass*>(e.get()) : t.get();
    if (!object) return 0;
    BoundedReader in(data + 2, size - 2);
    object->SolidDeserialize(in, 0);
    ReadBack(object);
    return 0;
}
