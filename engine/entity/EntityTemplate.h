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

    // ---- Virtual operations, in their fixed order ----
    const RTTIClass* GetRTTIClass() const override;
    // RefreshAfterChange on every live entity of this template.
    void OnPropertyChanged(const char* propertyName) override { NotifyEntitiesOfChange(); }
    void NotifyEntitiesOfChange();
    // The template class's name.
    virtual const char* GetClassName() const { return "EntityTemplate"; }
    // Whether the kind has rendering data (meshes, effects) to draw.
    virtual bool HasRenderingData() const { return false; }
    // Allocates and constructs the entity kind (a plain Entity here); null on failure.
    virtual Entity* CreateEntity();
    // The class name of the entities it makes.
    virtual const char* GetEntityClassName() const { return "Entity"; }
    // After loading: preloads what the template refers to (compound templates
    // pass it to their elements).
    virtual void PreloadReferencedResources() {}
    // Posts the resource part to the ResourceManager's request queue.
    virtual void QueueRequest(uint32_t argument);
    // Draws the kind's helper shape at m in the colour (linear), with the kind's
    // flags and, for meshes, the shader preset to draw with (null: the first); false when
    // it draws none.
    virtual bool DrawHelper(const Matrix& m, const Vector& colour, uint32_t flags, const char* presetName) {
        return false;
    }
    // An object that shows the template before an entity exists (none here).
    virtual void* CreatePreviewObject() { return nullptr; }
    virtual void DestroyPreviewObject(void* object) {}
    // DrawHelper in the "Wireframe color", without flags or preset.
    bool DrawHelperDefault(const Matrix& m) { return DrawHelper(m, wireframeColor.ToLinearVector(), 0, nullptr); }
    // The static script function "IsLoadedClientSide" of the script class.
    virtual bool IsLoadedClientSide();
    // Whether the template needs the shared resource of its kind.
    virtual bool RequiresSharedResource() const { return true; }
    // Kind-specific file data after the property blob (the rest of the binary
    // template); the base keeps the version. False on corrupt data.
    virtual bool ReadBinaryData(BoundedReader& in, uint32_t version) {
        binaryDataVersion = version;
        return true;
    }
    // Writes the kind-specific data (nothing for the base).
    virtual void WriteBinaryData(void* out, uint32_t flags) {}
    // The property list of a binary template (ReadBinaryTemplate): the class's property
    // walk; a kind that stores more in its list (UI recipe templates) reads it here. False
    // when the list is corrupt.
    virtual bool ReadTemplateProperties(BoundedReader& in);

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
    HDRColor wireframeColor{255, 255, 255, 255, 1.0f};  // opaque white at intensity 1
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
