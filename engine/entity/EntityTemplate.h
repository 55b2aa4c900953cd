#pragma once
// EntityTemplate: the base of every template. A template is a loadable resource (type 3)
// that carries the shared settings of one kind of object and creates its entity kind.
// Entities hold it through its instance count; holders outside entities hold uses of its
// resource part.
//
// Threads: created and loaded by the ResourceManager thread (or synchronously by the
// main thread); everything else on the main thread.
#include <cstdint>

#include "core/math/BoundingBox4.h"
#include "core/math/HDRColor.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/SimpleGUID.h"
#include "render/resources/Resource.h"

class Entity;
class EntityTemplateStub;
class BoundedReader;

// Resource flag: unload the template's data when its last entity goes.
constexpr uint32_t kTemplateFlagUnloadWithLastEntity = 0x200;
// Data version passed to ReadBinaryData by every file of this system.
constexpr uint32_t kTemplateBinaryVersion = 50;
// Highest "Initialization pass count".
constexpr uint32_t kMaxInitPasses = 5;

enum : uint8_t { TACTICALEXT_SAME_AS_VR = 0, TACTICALEXT_TRUE = 1, TACTICALEXT_FALSE = 2 };

class EntityTemplate : public RTTIPolyBaseClass, public Resource {
public:
    EntityTemplate();
    ~EntityTemplate() override;

    static const RTTIClass* RegisterClass();

    // ---- RTTI slots ----
    const RTTIClass* GetRTTIClass() const override;
    // Slot 10: RefreshAfterChange on every live entity of this template.
    void OnPropertyChanged(const char* propertyName) override { NotifyEntitiesOfChange(); }
    void NotifyEntitiesOfChange();
    virtual const char* GetClassName() const { return "EntityTemplate"; }  // 16
    virtual void Hook17() {}
    virtual bool HasRenderingData() const { return false; }  // 18
    // 19: allocates and constructs the entity kind (a plain Entity here); null on failure.
    virtual Entity* CreateEntity();
    virtual const char* GetEntityClassName() const { return "Entity"; }  // 20
    virtual void Hook21() {}
    virtual void Prepare() {}  // 22 (compound templates pass it to their elements)
    // 23: posts the resource part to the ResourceManager's request queue.
    virtual void QueueRequest(uint32_t argument);
    virtual bool DrawHelper(const Matrix& m, const BoundingBox4& box, uint32_t flags, uint32_t extra) { return false; }
    virtual bool Query25() const { return false; }
    virtual void* CreatePreviewObject() { return nullptr; }
    virtual void DestroyPreviewObject(void* object) {}
    bool DrawHelperDefault(const Matrix& m, const BoundingBox4& box) { return DrawHelper(m, box, 0, 0); }  // 28
    // 29: the static script function "IsLoadedClientSide" of the script class.
    virtual bool IsLoadedClientSide();
    virtual bool RequiresSharedResource() const { return true; }  // 30
    // 31: kind-specific file data after the property blob (the rest of the binary
    // template); the base keeps the version. False on corrupt data.
    virtual bool ReadBinaryData(BoundedReader& in, uint32_t version) {
        binaryDataVersion = version;
        return true;
    }
    virtual void WriteBinaryData(void* out, uint32_t flags) {}  // 32

    // ---- Resource part ----
    uint32_t GetResourceType() const override { return RESOURCE_TEMPLATE; }
    uint32_t GetTypeId() const override { return typeId; }
    void PreheatResource() override;
    bool LoadResource() override;

    // Instance references (entities made from this template).
    void AddInstanceRef() { ++instanceCount; }
    void ReleaseInstanceRef();
    uint32_t GetInstanceCount() const { return instanceCount; }

    // The script class of the entities: "Lua class" when set, else the entity class name.
    const char* GetScriptClassName() const;

    SimpleGUID guid;
    uint32_t typeId = 0;
    uint32_t instanceCount = 0;
    EntityTemplateStub* stub = nullptr;
    char* luaClass = nullptr;
    HDRColor wireframeColor{255, 255, 255, 255, 1.0f};
    BoundingBox4 staticBoundingBox = BoundingBox4::UNITCUBE3D;
    uint32_t faceCameraMode = 0;
    float faceCameraOffset = 0.0f;
    float sortOffset = 0.0f;
    uint32_t initPassCount = 0;
    uint8_t minimumQualityLevel = 0;
    bool visibleInCombatView = true;
    bool visibleInTacticalView = true;
    bool activatesTriggers = false;
    uint8_t visibleInTacticalExtended = TACTICALEXT_SAME_AS_VR;
    uint32_t binaryDataVersion = 0;
    // Loader thread: the open optimized file while this template's entry is read from it
    // (set and cleared by that file's load job around the load); null otherwise.
    BoundedReader* optimizedSource = nullptr;
};

// The Resource part of an object the class factory made, when it is a template.
Resource* TemplateResourcePart(RTTIPolyBaseClass* object);
EntityTemplate* TemplateFromResource(Resource* resource);
