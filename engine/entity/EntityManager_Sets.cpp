// EntityManager: entity sets, the active scene-parameter entity and the walk grid.
#include "core/Dynarray.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntitySet.h"
#include "engine/entity/SceneParametersEntity.h"
#include "engine/entity/SceneGrid.h"

EntitySet* EntityManager::FindEntitySetByName(const char* name) const {
    if (!name) return nullptr;
    for (EntitySet* set : entitySets)
        if (CompareNoCase(set->GetName(), name) == 0) return set;
    return nullptr;
}

EntitySet* EntityManager::CreateEntitySet() {
    auto* set = new EntitySet();
    set->Init();
    entitySets.Add(set);
    return set;
}

void EntityManager::DeleteEntitySet(EntitySet* set) {
    const int32_t at = entitySets.Find(set);
    if (at < 0) return;
    entitySets.Remove(uint32_t(at));
    delete set;
}

void EntityManager::DeleteAllEntitySets() {
    for (EntitySet* set : entitySets) delete set;
    entitySets.Release();
}

void EntityManager::PruneEntitySets() {
    for (uint32_t i = 0; i < entitySets.Count();) {
        EntitySet* set = entitySets[i];
        set->DropDeadMembers();
        if (set->MemberCount()) {
            ++i;
            continue;
        }
        delete set;
        entitySets[i] = entitySets[entitySets.Count() - 1];
        entitySets.Remove(entitySets.Count() - 1);
    }
}

SceneParametersEntity* EntityManager::GetActiveSceneParamsEntity() const {
    auto* root = dynamic_cast<SceneEntity*>(sceneRoot);
    if (!root || root->activeSceneParamBox.IsNull()) return nullptr;
    return dynamic_cast<SceneParametersEntity*>(FindEntityByGUID(root->activeSceneParamBox));
}

void EntityManager::SetSceneGrid(SceneGrid* newGrid) {
    if (newGrid == sceneGrid) return;
    delete sceneGrid;
    sceneGrid = newGrid;
}
