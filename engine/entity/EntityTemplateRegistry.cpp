#include "engine/entity/EntityTemplateRegistry.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/Log.h"
#include "core/Memory.h"
#include "core/StaticInit.h"
#include "core/Time.h"
#include "core/fs/FsUtil.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/services/SceneContentServices.h"
#include "engine/entity/EntityTemplate.h"
#include "platform/os/Clock.h"
#include "render/VornexRenderer.h"
#include "render/resources/ResourceManager.h"

EntityTemplateRegistry gEntityTemplateRegistry;

namespace {

RTTIClass* gStubClass = nullptr;


// Case-insensitive compare of a stored name with a path component.
int CompareComponent(const char* stored, const char* component, size_t length) {
    char buffer[kRTTIMaxNameLength + 1];
    if (length > kRTTIMaxNameLength) length = kRTTIMaxNameLength;
    std::memcpy(buffer, component, length);
    buffer[length] = 0;
    return RTTIStricmp(stored ? stored : "", buffer);
}

template <class T, class NameOf>
uint32_t SortedPlace(const Dynarray<T*>& list, const char* name, size_t length, NameOf nameOf, bool* found) {
    const auto at = std::lower_bound(list.begin(), list.end(), name, [&](const T* item, const char* key) {
        return CompareComponent(nameOf(item), key, length) < 0;
    });
    const uint32_t lo = static_cast<uint32_t>(at - list.begin());
    *found = lo < list.Count() && CompareComponent(nameOf(list[lo]), name, length) == 0;
    return lo;
}

const char* FolderName(const TemplateFolder* f) { return f->name; }
const char* StubName(const EntityTemplateStub* s) { return s->fileName; }

}  // namespace

// ---------------------------------------------------------------------------------
// Stubs.

EntityTemplateStub::~EntityTemplateStub() {
    if (entityTemplate) entityTemplate->stub = nullptr;
    EngineFree(fileName);
}

const RTTIClass* EntityTemplateStub::RegisterClass() {
    if (gStubClass) return gStubClass;
    RTTIClass* c = CreateRegisteredClass(gStubClass, "EntityTemplateStub", kRTTIRootBaseName,
                                         [](int32_t) -> RTTIPolyBaseClass* { return new EntityTemplateStub(); });
    c->AddProperty(new RTTIDirectAccessTypedProperty<char*>("File name", RTTI_OFFSETOF(EntityTemplateStub, fileName)));
    c->AddProperty(new RTTIDirectAccessTypedProperty<SimpleGUID>("GUID", RTTI_OFFSETOF(EntityTemplateStub, guid)));
    c->AddProperty(new RTTIDirectAccessTypedProperty<uint32_t>("Type", RTTI_OFFSETOF(EntityTemplateStub, typeId)));
    return c;
}

const RTTIClass* EntityTemplateStub::GetRTTIClass() const { return RegisterClass(); }

void EntityTemplateStub::SetFileName(const char* name) {
    EngineFree(fileName);
    fileName = fs::CopyText(name);
}

void EntityTemplateStub::SetTemplate(EntityTemplate* t) {
    entityTemplate = t;
    if (t) t->stub = this;
}

void EntityTemplateStub::GetFullPath(char* buffer, uint32_t size) const {
    if (!size) return;
    buffer[0] = 0;
    if (folder) folder->GetPath(buffer, size);
    const size_t used = std::strlen(buffer);
    std::snprintf(buffer + used, size - used, "%s%s", used ? "/" : "", FileName());
}

EntityTemplate* EntityTemplateStub::LinkTemplate(bool load, bool acquire, bool* loading) {
    *loading = false;
    EntityTemplate* t = entityTemplate;
    if (!t) {
        if (!load) return nullptr;
        char path[kMaxResourceName + 1];
        GetFullPath(path, sizeof(path));
        Resource* r = gResourceManager.GetResource(RESOURCE_TEMPLATE, path, typeId, true, 0);
        t = TemplateFromResource(r);
        if (!t) {
            if (r) r->Release();
            return nullptr;
        }
        SetTemplate(t);
        t->Load(false);
        t->PreloadReferencedResources();
    }
    if (acquire) t->AddRef();
    *loading = t->GetState() == RESOURCE_LOADING;
    return t;
}

namespace {

// Finds the stub and links its template under the registry lock, then waits for a
// template that is still loading with the lock released.
template <class Find>
EntityTemplate* LinkAndWait(Find find, bool load, bool acquire) {
    bool loading = false;
    EntityTemplate* t = nullptr;
    {
        CriticalSectionGuard guard(&gEntityTemplateRegistry.Lock());
        if (EntityTemplateStub* s = find()) t = s->LinkTemplate(load, acquire, &loading);
    }
    if (t && loading) t->WaitUntilLoaded(false);
    return t;
}

}  // namespace

EntityTemplate* EntityTemplateStub::GetTemplate(bool load) {
    return LinkAndWait([this] { return this; }, load, false);
}

EntityTemplate* EntityTemplateStub::AcquireTemplate(uint32_t) {
    return LinkAndWait([this] { return this; }, true, true);
}

bool EntityTemplateStub::ReleaseTemplate() {
    CriticalSectionGuard guard(&gEntityTemplateRegistry.Lock());
    EntityTemplate* t = entityTemplate;
    if (!t) return true;
    // The stub holds one use of the resource part; any other use keeps it loaded.
    if (t->GetInstanceCount() != 0 || t->GetUseCount() > 1) return false;
    entityTemplate = nullptr;
    t->stub = nullptr;
    t->Release();
    delete t;
    return true;
}

// ---------------------------------------------------------------------------------
// Folders.

TemplateFolder::TemplateFolder(const char* folderName, TemplateFolder* parentFolder) : parent(parentFolder) {
    if (folderName) name = fs::CopyText(folderName);
}

TemplateFolder::~TemplateFolder() {
    for (TemplateFolder* f : folders) delete f;
    for (EntityTemplateStub* s : stubs) {
        s->folder = nullptr;
        if (!(s->flags & STUB_FLAG_IN_GUID_INDEX)) delete s;
    }
    EngineFree(name);
}

TemplateFolder* TemplateFolder::AddFolder(const char* folderName) {
    bool found;
    const uint32_t at = SortedPlace(folders, folderName, std::strlen(folderName), FolderName, &found);
    if (found) return folders[at];
    TemplateFolder* f = new TemplateFolder(folderName, this);
    folders.Insert(f, at);
    return f;
}

void TemplateFolder::AddStub(EntityTemplateStub* stub) {
    bool found;
    const char* n = stub->FileName();
    stubs.Insert(stub, SortedPlace(stubs, n, std::strlen(n), StubName, &found));
    stub->folder = this;
}

void TemplateFolder::RemoveStub(EntityTemplateStub* stub) {
    for (uint32_t i = 0; i < stubs.Count(); ++i) {
        if (stubs[i] == stub) {
            stubs.Remove(i);
            stub->folder = nullptr;
            return;
        }
    }
}

TemplateFolder* TemplateFolder::FindFolder(const char* folderName, size_t length) const {
    bool found;
    const uint32_t at = SortedPlace(folders, folderName, length, FolderName, &found);
    return found ? folders[at] : nullptr;
}

EntityTemplateStub* TemplateFolder::FindStub(const char* stubName, size_t length) const {
    bool found;
    const uint32_t at = SortedPlace(stubs, stubName, length, StubName, &found);
    return found ? stubs[at] : nullptr;
}

void TemplateFolder::GetPath(char* buffer, uint32_t size) const {
    if (!size) return;
    buffer[0] = 0;
    if (parent) parent->GetPath(buffer, size);
    const size_t used = std::strlen(buffer);
    std::snprintf(buffer + used, size - used, "%s%s", used ? "/" : "", name ? name : "");
}

// ---------------------------------------------------------------------------------
// Registry.

EntityTemplateRegistry::EntityTemplateRegistry() { root = new TemplateFolder("templates"); }

EntityTemplateRegistry::~EntityTemplateRegistry() {
    Clear();
    delete root;
}

EntityTemplateStub* EntityTemplateRegistry::FindStubByName(const char* path) {
    if (!path) return nullptr;
    CriticalSectionGuard guard(&lock);
    const TemplateFolder* f = root;
    const char* p = path;
    for (;;) {
        const char* end = p;
        while (*end && *end != '/' && *end != '\\') ++end;
        if (!*end) return f->FindStub(p, size_t(end - p));
        if (end != p) {
            f = f->FindFolder(p, size_t(end - p));
            if (!f) return nullptr;
        }
        p = end + 1;
    }
}

EntityTemplate* EntityTemplateRegistry::FindTemplateByName(const char* path, bool load) {
    return LinkAndWait([&] { return FindStubByName(path); }, load, false);
}

bool EntityTemplateRegistry::PreloadTemplateByName(const char* path) {
    if (!path || !*path) return false;
    const auto find = [&] {
        EntityTemplateStub* s = FindStubByName(path);
        if (s) gVornexRenderer.FlushCommands(false);
        return s;
    };
    return LinkAndWait(find, true, false) != nullptr;
}

uint32_t EntityTemplateRegistry::LowerBound(const SimpleGUID& guid) const {
    const auto before = [](const EntityTemplateStub* s, const SimpleGUID& g) {
        return SimpleGUID::Compare(s->guid, g) < 0;
    };
    const auto at = std::lower_bound(guidIndex.begin(), guidIndex.end(), guid, before);
    return static_cast<uint32_t>(at - guidIndex.begin());
}

EntityTemplateStub* EntityTemplateRegistry::FindStubByGUID(const SimpleGUID& guid) {
    CriticalSectionGuard guard(&lock);
    const uint32_t at = LowerBound(guid);
    return at < guidIndex.Count() && guidIndex[at]->guid == guid ? guidIndex[at] : nullptr;
}

EntityTemplate* EntityTemplateRegistry::FindTemplateByGUID(const SimpleGUID& guid, bool load) {
    return LinkAndWait([&] { return FindStubByGUID(guid); }, load, false);
}

EntityTemplate* EntityTemplateRegistry::AcquireTemplateByGUID(const SimpleGUID& guid, uint32_t) {
    return LinkAndWait([&] { return FindStubByGUID(guid); }, true, true);
}

EntityTemplate* EntityTemplateRegistry::AcquireTemplateByName(const char* path, uint32_t) {
    return LinkAndWait([&] { return FindStubByName(path); }, true, true);
}

bool EntityTemplateRegistry::InsertStub(EntityTemplateStub* stub) {
    CriticalSectionGuard guard(&lock);
    if (!stub || (stub->flags & STUB_FLAG_IN_GUID_INDEX)) return false;
    const uint32_t at = LowerBound(stub->guid);
    if (at < guidIndex.Count() && guidIndex[at]->guid == stub->guid) return false;
    if (!guidIndex.Insert(stub, at)) return false;
    stub->flags |= STUB_FLAG_IN_GUID_INDEX;
    return true;
}

void EntityTemplateRegistry::RemoveStub(EntityTemplateStub* stub) {
    CriticalSectionGuard guard(&lock);
    if (!stub) return;
    const uint32_t at = LowerBound(stub->guid);
    if (at < guidIndex.Count() && guidIndex[at] == stub) {
        guidIndex.Remove(at);
        stub->flags &= uint8_t(~STUB_FLAG_IN_GUID_INDEX);
    }
}

void EntityTemplateRegistry::ReleaseFolder(TemplateFolder* f) {
    for (EntityTemplateStub* s : f->stubs) s->ReleaseTemplate();
    for (TemplateFolder* child : f->folders) ReleaseFolder(child);
}

void EntityTemplateRegistry::UnloadUnusedTemplates() {
    const int64_t start = os::ReadCounter();
    {
        CriticalSectionGuard guard(&lock);
        ReleaseFolder(root);
        DropOptimizedStubs();
    }
    gResourceManager.PostEvictResources(uint32_t(-3), false, 0, 0);
    gVornexRenderer.FlushCommands(false);
    gResourceManager.Flush();
    gLog.Print(LogSeverity::Progress, LogCategory::Engine, "Unused templates unloaded in %f sec",
               Time(os::ReadCounter() - start).ToSeconds());
}

void EntityTemplateRegistry::DropOptimizedStubs() {
    CriticalSectionGuard guard(&lock);
    gVornexRenderer.FlushCommands(false);
    for (uint32_t i = guidIndex.Count(); i-- > 0;) {
        EntityTemplateStub* s = guidIndex[i];
        if (!(s->flags & STUB_FLAG_OPTIMIZED) || !s->ReleaseTemplate()) continue;
        guidIndex.Remove(i);
        s->flags &= uint8_t(~STUB_FLAG_IN_GUID_INDEX);
        if (s->folder) s->folder->RemoveStub(s);
        delete s;
    }
}

void EntityTemplateRegistry::Shutdown() {
    if (!initialised) return;
    UnloadUnusedTemplates();
    GetSceneContentServices().SetMeshShaderPreset(nullptr);
    Clear();
    initialised = false;
}

void EntityTemplateRegistry::Clear() {
    CriticalSectionGuard guard(&lock);
    for (EntityTemplateStub* s : guidIndex) {
        s->flags &= uint8_t(~STUB_FLAG_IN_GUID_INDEX);
        if (!s->folder) delete s;
    }
    guidIndex.Release();
    delete root;
    root = new TemplateFolder("templates");
}
