#pragma once
// The template registry: every template of the game by GUID and by its path in a folder
// tree rooted at "templates". Templates load on demand through the ResourceManager (as
// resources of type 3 whose creation parameter is the stub's type id) and are unloaded
// when no entity and no outside holder uses them.
//
// Threads: every registry and stub operation takes the registry lock, because the
// ResourceManager thread loads templates and reads the registry.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/Sync.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/SimpleGUID.h"

class EntityTemplate;
class TemplateFolder;

enum : uint8_t { STUB_FLAG_OPTIMIZED = 1, STUB_FLAG_IN_GUID_INDEX = 2 };

class EntityTemplateStub : public RTTIPolyBaseClass {
public:
    EntityTemplateStub() = default;
    ~EntityTemplateStub() override;
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;

    // The template; with load, requested synchronously when absent and waited for.
    EntityTemplate* GetTemplate(bool load);
    // The template with a use of its resource part added (loaded when needed).
    EntityTemplate* AcquireTemplate(uint32_t purpose);
    // Unlinks and deletes the template when nothing uses it; true when it did.
    bool ReleaseTemplate();
    // Folder path, "/", file name into buffer.
    void GetFullPath(char* buffer, uint32_t size) const;

    EntityTemplate* GetLoadedTemplate() const { return entityTemplate; }
    void DetachTemplate() { entityTemplate = nullptr; }
    void SetTemplate(EntityTemplate* t);
    const char* FileName() const { return fileName ? fileName : ""; }
    void SetFileName(const char* name);

    TemplateFolder* folder = nullptr;
    char* fileName = nullptr;
    SimpleGUID guid;
    uint32_t typeId = 0;
    uint8_t flags = 0;

private:
    EntityTemplate* entityTemplate = nullptr;
};

class TemplateFolder {
public:
    explicit TemplateFolder(const char* folderName, TemplateFolder* parentFolder = nullptr);
    ~TemplateFolder();
    TemplateFolder(const TemplateFolder&) = delete;
    TemplateFolder& operator=(const TemplateFolder&) = delete;

    // Sorted insertion (names without regard to case).
    TemplateFolder* AddFolder(const char* folderName);
    void AddStub(EntityTemplateStub* stub);
    void RemoveStub(EntityTemplateStub* stub);
    TemplateFolder* FindFolder(const char* folderName, size_t length) const;
    EntityTemplateStub* FindStub(const char* stubName, size_t length) const;
    void GetPath(char* buffer, uint32_t size) const;

    char* name = nullptr;
    TemplateFolder* parent = nullptr;
    Dynarray<TemplateFolder*> folders;
    Dynarray<EntityTemplateStub*> stubs;
};

class EntityTemplateRegistry {
public:
    EntityTemplateRegistry();
    ~EntityTemplateRegistry();

    EntityTemplate* FindTemplateByName(const char* path, bool load);
    EntityTemplateStub* FindStubByName(const char* path);
    bool PreloadTemplateByName(const char* path);
    EntityTemplate* FindTemplateByGUID(const SimpleGUID& guid, bool load);
    EntityTemplateStub* FindStubByGUID(const SimpleGUID& guid);
    EntityTemplate* AcquireTemplateByGUID(const SimpleGUID& guid, uint32_t purpose);
    EntityTemplate* AcquireTemplateByName(const char* path, uint32_t purpose);
    bool InsertStub(EntityTemplateStub* stub);
    void RemoveStub(EntityTemplateStub* stub);
    void UnloadUnusedTemplates();
    void Shutdown();
    // Development builds: every ".template" header below path into folder (".", ".." and
    // ".svn" skipped; entries in name order). With regenerate each stub gets a new GUID.
    void RegisterTemplateDirectory(TemplateFolder* folder, char* path, uint32_t pathSize, bool regenerate,
                                   uint32_t depth = 0);
    // The folder "templates" from the root.
    void ScanTemplates();
    // Once: the catalogue in standalone builds, else the scan; then the mesh templates'
    // shader preset "Default".
    void Init();
    // Empties the GUID index and the folder tree (the templates must be unloaded).
    void Clear();

    TemplateFolder* Root() { return root; }
    uint32_t GUIDIndexCount() const { return guidIndex.Count(); }
    EntityTemplateStub* GUIDIndexAt(uint32_t i) const { return guidIndex[i]; }
    CriticalSection& Lock() { return lock; }
    bool IsInitialised() const { return initialised; }
    void SetInitialised(bool on) { initialised = on; }

private:
    uint32_t LowerBound(const SimpleGUID& guid) const;
    void ReleaseFolder(TemplateFolder* f);

    CriticalSection lock;
    bool initialised = false;
    TemplateFolder* root = nullptr;
    Dynarray<EntityTemplateStub*> guidIndex;
};

extern EntityTemplateRegistry gEntityTemplateRegistry;
