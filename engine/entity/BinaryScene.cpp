#include "engine/entity/BinaryScene.h"

#include <vector>

#include "core/Log.h"
#include "core/fs/FileReader.h"
#include "core/fs/WholeFile.h"
#include "core/BoundedReader.h"
#include "core/rtti/RTTIEntityPointer.h"
#include "engine/services/SceneContentServices.h"
#include "engine/entity/EntityLayers.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntitySet.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "engine/entity/SceneGrid.h"

namespace {

constexpr uint32_t kOwnClassOnly = 8;
constexpr uint32_t kRecordHeader = 20;  // template GUID and property-list size

class SceneParser {
public:
    SceneParser(const uint8_t* image, size_t size, uint32_t parseFlags, uint32_t propertyFlags)
        : in(image, size), parseFlags(parseFlags), propertyFlags(propertyFlags) {}

    bool Run() {
        ownsPass = EntityPointerFixups::Begin();
        const bool complete = ReadEntities() && ReadSetsAndLayers() && ReadGrid() && ReadSequences();
        Finish();
        return complete;
    }

private:
    bool ReadEntities() {
        if (!in.Read(nullptr, 4)) return false;
        if (SceneEntity* root = dynamic_cast<SceneEntity*>(gEntityManager->GetRootEntity()))
            root->SolidDeserialize(in, propertyFlags | kOwnClassOnly);
        uint32_t count = 0;
        if (in.Failed() || !in.ReadU32(count) || !in.CheckCount(count, kRecordHeader)) return false;
        for (uint32_t i = 0; i < count; ++i)
            if (!ReadEntity(i)) return false;
        ResolvePass();
        RunPostLoadHooks();
        if (ownsPass) EntityPointerFixups::Begin();
        return true;
    }

    bool ReadEntity(uint32_t index) {
        SimpleGUID templateGuid;
        uint32_t size = 0;
        if (!in.Read(templateGuid.bytes, 16) || !in.ReadU32(size) || !in.CheckCount(size, 1)) return false;
        const uint8_t* properties = in.Position();
        in.Read(nullptr, size);
        EntityTemplate* t = gEntityTemplateRegistry.FindTemplateByGUID(templateGuid, true);
        if (!t) {
            gLog.Print(LogSeverity::Error, LogCategory::Engine,
                       "Unable to find template! Certain objects will be lost! Template GUID: %s",
                       templateGuid.ToStringUnsafe());
            return true;
        }
        Entity* e = gEntityManager->CreateEntityFromTemplate(
            t, nullptr, Matrix::IDENTITY, ENTITYCREATION_DONOTCREATERENDERINGCONTEXT | ENTITYCREATION_NOGUIDGENERATION,
            nullptr);
        if (!e) {
            gLog.Print(LogSeverity::Error, LogCategory::Engine,
                       "Scene entity %u of template %s makes no entity and is dropped", index, t->GetName());
            return true;
        }
        BoundedReader record(properties, size);
        e->SolidDeserialize(record, propertyFlags);
        if (record.Failed()) {
            gLog.Print(LogSeverity::Error, LogCategory::Engine,
                       "Scene entity %u of template %s has an unreadable property list and is dropped", index,
                       t->GetName());
            // Its queued pointers still aim into it: it goes once the pass is resolved.
            // Until then no pointer may find it, or the entities naming it as parent
            // would go with it.
            e->SetGUID(SimpleGUID());
            failed.push_back(SafePointerTo(e));
            return true;
        }
        e->RecreateRenderingContext(false);
        created.push_back(SafePointerTo(e));
        return true;
    }

    bool ReadSetsAndLayers() {
        uint32_t count = 0;
        if (!in.ReadU32(count) || !in.CheckCount(count, 4)) return false;
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t size = 0;
            if (!in.ReadU32(size) || !in.CheckCount(size, 1)) return false;
            BoundedReader record(in.Position(), size);
            in.Read(nullptr, size);
            EntitySet* set = gEntityManager->CreateEntitySet();
            set->SolidDeserialize(record, propertyFlags);
            if (record.Failed()) {
                // A set that silently lost its members would mislead the scripts that
                // look it up. Its queued members still aim into it: it goes once the
                // pass is resolved.
                gLog.Print(LogSeverity::Error, LogCategory::Engine,
                           "Scene entity set %u has an unreadable property list and is dropped", i);
                failedSets.push_back(set);
            }
        }
        if (!in.Read(nullptr, 4)) return false;
        if (EntityLayerSystem* layers = gEntityManager->GetLayerSystem()) layers->SolidDeserialize(in, propertyFlags);
        if (in.Failed()) return false;
        if (SceneEntity* root = dynamic_cast<SceneEntity*>(gEntityManager->GetRootEntity()))
            root->ActivateSceneParams();
        return true;
    }

    bool ReadGrid() {
        ResolvePass();
        uint8_t present = 0;
        if (!in.ReadU8(present)) return false;
        const bool install = parseFlags & SCENEPARSE_INSTALL_GRID;
        if (!present) {
            if (install) gEntityManager->SetSceneGrid(nullptr);
            return true;
        }
        auto* grid = new SceneGrid();
        const uint32_t used = grid->Read(in.Position(), in.Remaining(), false);
        if (!used) {
            // Logged by the grid; the scene has no grid, and nothing after it can be found.
            delete grid;
            if (install) gEntityManager->SetSceneGrid(nullptr);
            return false;
        }
        in.Read(nullptr, used);
        if (install) gEntityManager->SetSceneGrid(grid);
        else delete grid;
        return true;
    }

    bool ReadSequences() {
        uint32_t present = 0;
        if (!in.ReadU32(present)) return false;
        if (!present || !(parseFlags & SCENEPARSE_SEQUENCES)) return true;
        return GetSceneContentServices().ReadSequenceProperties(in) && !in.Failed();
    }

    void Finish() {
        ResolvePass();
        if (!hooksRun) RunPostLoadHooks();
        // A failed entity is dropped only when no pass of the caller still holds its
        // queued pointers.
        if (!ownsPass) return;
        for (SafePointer<Entity>& e : failed)
            if (e.Get()) gEntityManager->DestroyEntity(e.Get());
        for (EntitySet* set : failedSets) gEntityManager->DeleteEntitySet(set);
    }

    void ResolvePass() {
        if (!ownsPass || !EntityPointerFixups::IsOpen()) return;
        EntityPointerFixups::Resolve();
    }

    void RunPostLoadHooks() {
        hooksRun = true;
        for (SafePointer<Entity>& e : created)
            if (Entity* entity = e.Get()) entity->OnPostLoad();
    }

    static SafePointer<Entity> SafePointerTo(Entity* e) { return SafePointer<Entity>(e); }

    BoundedReader in;
    uint32_t parseFlags;
    uint32_t propertyFlags;
    bool ownsPass = false;
    bool hooksRun = false;
    std::vector<SafePointer<Entity>> created;
    std::vector<SafePointer<Entity>> failed;
    std::vector<EntitySet*> failedSets;  // refused sets, deleted with the failed entities
};

}  // namespace

bool ParseBinaryScene(const uint8_t* image, size_t size, uint32_t parseFlags, uint32_t propertyFlags) {
    if (!gEntityManager) return false;
    return SceneParser(image, size, parseFlags, propertyFlags).Run();
}

void LoadBinaryScene(const char* name, const char* directory, uint32_t parseFlags, uint32_t propertyFlags) {
    FileReader reader;
    if (!reader.Open(name, kBinarySceneExtension, directory)) {
        gLog.Print(LogSeverity::Error, LogCategory::Engine, "Unable to open file for reading (%s/%s)",
                   directory ? directory : "", name ? name : "");
        return;
    }
    std::vector<uint8_t> image;
    if (!fs::ReadWholeFile(reader, UINT32_MAX, 0, &image)) {
        gLog.Print(LogSeverity::Error, LogCategory::Engine, "Unable to open file for reading (%s/%s)",
                   directory ? directory : "", name ? name : "");
        return;
    }
    ParseBinaryScene(image.data(), image.size(), parseFlags, propertyFlags);
}
