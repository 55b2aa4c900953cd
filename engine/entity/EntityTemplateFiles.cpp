#include "engine/entity/EntityTemplateFiles.h"

#include <tinyxml.h>

#include <cstdio>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "core/BoundedReader.h"
#include "core/Log.h"
#include "core/Memory.h"
#include "core/Time.h"
#include "core/config/GameConfig.h"
#include "core/fs/FileReader.h"
#include "core/fs/FileSystem.h"
#include "core/fs/WholeFile.h"
#include "engine/services/SceneContentServices.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "platform/os/Clock.h"
#include "render/VornexRenderer.h"
#include "render/resources/ResourceManager.h"

namespace {

constexpr const char* kBinaryTemplateExtension = "BinaryTemplate";
constexpr uint32_t kMinFolderRecordBytes = 12;  // three counts
constexpr uint32_t kMinTemplateBytes = 24;       // GUID, type id, property blob size

// One optimized file's templates, handed to the ResourceManager thread as the argument of
// one job. LoadOptimizedTemplates owns it and waits for the job before reading `read`.
struct OptimizedBatch {
    explicit OptimizedBatch(std::vector<uint8_t>&& file) : bytes(std::move(file)), in(bytes.data(), bytes.size()) {}
    std::vector<uint8_t> bytes;
    BoundedReader in;
    uint32_t count = 0;
    // Made by the loader thread, one per entry reached, in file order; read by the main
    // thread only after the job finished.
    std::vector<Resource*> resources;
    // Entries read completely, in file order; the first one not read ends the batch.
    std::atomic<uint32_t> read{0};
};

void OptimizedName(uint32_t i, char* name, size_t size) { std::snprintf(name, size, "#optimizedtemplate%03u", i); }

// Loader thread: the entries in file order. Each entry's template is made from its type
// word when the entry is reached (a type without a named row makes a plain template),
// then reads its entry from the batch's stream. Entries have no size, so the first one
// that cannot be made or read ends the batch.
void LoadOptimizedBatch(void* argument, const uint8_t*, uint32_t) {
    auto* batch = static_cast<OptimizedBatch*>(argument);
    for (uint32_t i = 0; i < batch->count; ++i) {
        BoundedReader& in = batch->in;
        if (in.Remaining() < kMinTemplateBytes) return;
        uint32_t type = 0;
        std::memcpy(&type, in.Position() + sizeof(SimpleGUID), sizeof type);
        if (type >= TemplateTypeTable::kRows || !TemplateTypeTable::Get()[type].name) type = 0;
        char name[32];
        OptimizedName(i, name, sizeof name);
        Resource* r = gResourceManager.GetResource(RESOURCE_TEMPLATE, name, type, true, 0);
        EntityTemplate* t = TemplateFromResource(r);
        if (!t) {
            if (r) r->Release();
            return;
        }
        batch->resources.push_back(r);
        const size_t before = in.Offset();
        t->optimizedSource = &in;
        gResourceManager.LoadResource(r);
        t->optimizedSource = nullptr;
        // A load skipped (a type mask without templates) or broken leaves the stream
        // where the next entry cannot be found.
        if (in.Failed() || in.Offset() == before) return;
        batch->read.fetch_add(1, std::memory_order_release);
    }
}

double SecondsSince(int64_t start) { return Time(os::ReadCounter() - start).ToSeconds(); }

int CompareNames(const std::string& a, const std::string& b) { return RTTIStricmp(a.c_str(), b.c_str()); }

bool HasTemplateExtension(const char* name, size_t* baseLength) {
    const char* dot = std::strrchr(name, '.');
    if (!dot || RTTIStricmp(dot, ".template") != 0) return false;
    *baseLength = size_t(dot - name);
    return true;
}

// The file to read for a template path: the first "path + suffix" of the ResourceManager's
// name list that exists, else the path itself.
void BinaryTemplateName(const char* path, char* out, uint32_t size) {
    for (uint32_t i = 0; i < gResourceManager.NameCount(); ++i) {
        const char* suffix = gResourceManager.NameAt(i);
        if (!suffix) continue;
        if (std::snprintf(out, size, "%s%s", path, suffix) >= int(size)) continue;
        if (gFileSystem.FileExists(out, kBinaryTemplateExtension, nullptr)) return;
    }
    std::snprintf(out, size, "%s", path);
}

// Moves the stubs and sub-folders of from into into (both sorted by name; sub-folders of
// one name merge), then deletes from.
void MergeFolderInto(TemplateFolder* into, TemplateFolder* from) {
    while (from->stubs.Count()) {
        EntityTemplateStub* s = from->stubs[0];
        from->RemoveStub(s);
        into->AddStub(s);
    }
    while (from->folders.Count()) {
        TemplateFolder* f = from->folders[0];
        from->folders.Remove(0);
        MergeFolderInto(into->AddFolder(f->name ? f->name : ""), f);
    }
    delete from;
}

bool ReadFolder(BoundedReader& in, TemplateFolder* folder, std::vector<EntityTemplateStub*>& sorted,
                uint32_t depth) {
    uint32_t length = 0;
    if (!in.ReadU32(length) || !in.CheckCount(length, 1)) return false;
    const char* text = reinterpret_cast<const char*>(in.Position());
    size_t n = 0;
    while (n < length && text[n]) ++n;  // terminated within its stated length
    if (depth > 0 && n) {
        EngineFree(folder->name);
        folder->name = static_cast<char*>(EngineAlloc(n + 1));
        if (folder->name) {
            std::memcpy(folder->name, text, n);
            folder->name[n] = 0;
        }
    }
    in.Read(nullptr, length);
    uint32_t stubCount = 0;
    if (!in.ReadU32(stubCount) || !in.CheckCount(stubCount, 16)) return false;
    for (uint32_t i = 0; i < stubCount; ++i) {
        SimpleGUID guid;
        in.Read(guid.bytes, 16);
        const auto at = std::lower_bound(sorted.begin(), sorted.end(), guid,
                                         [](const EntityTemplateStub* s, const SimpleGUID& g) {
                                             return SimpleGUID::Compare(s->guid, g) < 0;
                                         });
        if (at == sorted.end() || (*at)->guid != guid) continue;  // names no stub
        EntityTemplateStub* stub = *at;
        if (stub->folder) stub->folder->RemoveStub(stub);
        folder->AddStub(stub);
    }
    uint32_t folderCount = 0;
    if (!in.ReadU32(folderCount) || !in.CheckCount(folderCount, kMinFolderRecordBytes)) return false;
    if (folderCount && depth >= kMaxTemplateFolderDepth) return in.Fail("template folders nested too deeply");
    for (uint32_t i = 0; i < folderCount; ++i) {
        TemplateFolder* child = new TemplateFolder(nullptr, folder);
        if (!ReadFolder(in, child, sorted, depth + 1)) {
            delete child;
            return false;
        }
        // Sorted into the parent by name (a second folder of one name merges into the
        // first): the contents move into the node AddFolder placed.
        MergeFolderInto(folder->AddFolder(child->name ? child->name : ""), child);
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------------
// ".template" headers.

bool ParseTemplateStubHeader(const char* text, size_t length, EntityTemplateStub* stub) {
    if (!text || !stub) return false;
    if (length > kTemplateHeaderBytes) length = kTemplateHeaderBytes;
    size_t n = 0;
    while (n < length && text[n] && text[n] != '\n') ++n;
    if (n < length && text[n] == '\n') ++n;  // cut after the first line feed
    if (!n) return false;
    // The XML parser steps over a UTF-8 sequence by the length its first byte claims, so a
    // sequence cut at the end of the line would carry it past the terminator: a few more
    // zero bytes stop it there.
    std::string line(text, n);
    line.append(8, '\0');
    TiXmlDocument doc;
    doc.Parse(line.c_str(), nullptr, TIXML_ENCODING_UTF8);
    const TiXmlElement* e = doc.FirstChildElement("TemplateStub");
    if (!e) return false;
    const char* guidText = e->Attribute("GUID");
    const char* typeText = e->Attribute("Type");
    if (!guidText || !typeText) return false;
    SimpleGUID guid;
    unsigned type = 0;
    char extra = 0;
    if (!guid.FromString(guidText) || std::sscanf(typeText, "%u%c", &type, &extra) != 1) return false;
    stub->guid = guid;
    stub->typeId = type;
    return true;
}

bool ReadTemplateStubHeader(EntityTemplateStub* stub, const char* fileName, const char* directory) {
    FileReader reader;
    if (!stub || !fileName || !reader.Open(fileName, "template", directory)) return false;
    char head[kTemplateHeaderBytes];
    const uint32_t n = reader.GetSize() < kTemplateHeaderBytes ? reader.GetSize() : kTemplateHeaderBytes;
    if (!n || !reader.Read(head, n) || !ParseTemplateStubHeader(head, n, stub)) return false;
    stub->SetFileName(fileName);
    return true;
}

// ---------------------------------------------------------------------------------
// The catalogue.

bool ReadTemplateInfo(BoundedReader& in, EntityTemplateRegistry& registry) {
    CriticalSectionGuard guard(&registry.Lock());
    uint32_t count = 0;
    if (!in.ReadU32(count) || !in.CheckCount(count, 4)) {
        gLog.Error(LogCategory::Engine, "ReadTemplateInfo - corrupt template catalogue");
        return false;
    }
    const RTTIClass* stubClass = EntityTemplateStub::RegisterClass();
    std::vector<EntityTemplateStub*> stubs;
    bool ok = true;
    for (uint32_t i = 0; i < count && ok; ++i) {
        uint32_t size = 0;
        if (!in.ReadU32(size) || !in.CheckCount(size, 1)) {
            ok = false;
            break;
        }
        BoundedReader block(in.Position(), size);
        in.Read(nullptr, size);
        EntityTemplateStub* stub = new EntityTemplateStub();
        stubClass->DeserializeProperties(block, stub, 4);
        if (block.Failed()) {
            delete stub;
            ok = false;
            break;
        }
        stubs.push_back(stub);
    }
    // The GUID index: sorted, one stub per GUID.
    std::vector<EntityTemplateStub*> sorted;
    for (EntityTemplateStub* s : stubs) {
        if (registry.InsertStub(s)) {
            sorted.push_back(s);
        } else {
            EntityTemplateStub* holder = registry.FindStubByGUID(s->guid);
            gLog.Error(LogCategory::Engine, "ReadTemplateInfo - duplicated template GUID %s (%s and %s)",
                       s->guid.ToStringUnsafe(), holder ? holder->FileName() : "", s->FileName());
            delete s;
        }
    }
    std::sort(sorted.begin(), sorted.end(), [](const EntityTemplateStub* a, const EntityTemplateStub* b) {
        return SimpleGUID::Compare(a->guid, b->guid) < 0;
    });
    if (ok) ok = ReadFolder(in, registry.Root(), sorted, 0);
    for (EntityTemplateStub* s : sorted)
        if (!s->folder) registry.Root()->AddStub(s);
    if (!ok) gLog.Error(LogCategory::Engine, "ReadTemplateInfo - truncated or corrupt template catalogue");
    return ok;
}

bool ReadTemplateInfoFile(EntityTemplateRegistry& registry) {
    std::vector<uint8_t> bytes;
    if (!fs::ReadWholeFile("Templates/TemplateInfo", "Bin", nullptr, &bytes)) return false;
    const BoundedReaderSource source("Templates/TemplateInfo.Bin");
    BoundedReader in(bytes.data(), bytes.size());
    return ReadTemplateInfo(in, registry);
}

// ---------------------------------------------------------------------------------
// Binary templates.

bool ReadBinaryTemplate(BoundedReader& in, EntityTemplate* t) {
    uint32_t type = 0, size = 0;
    SimpleGUID guid;
    if (!in.Read(guid.bytes, 16) || !in.ReadU32(type) || !in.ReadU32(size) || !in.CheckCount(size, 1)) return false;
    t->guid = guid;
    t->typeId = type;
    BoundedReader block(in.Position(), size);
    in.Read(nullptr, size);
    if (!t->ReadTemplateProperties(block) || block.Failed()) return in.Fail("corrupt template properties");
    if (!t->ReadBinaryData(in, kTemplateBinaryVersion)) return in.Failed() ? false : in.Fail("corrupt template data");
    return !in.Failed();
}

bool EntityTemplate::ReadTemplateProperties(BoundedReader& in) {
    GetRTTIClass()->DeserializeProperties(in, this, 0);
    return !in.Failed();
}

void EntityTemplate::PreheatResource() {
    const char* path = GetName();
    if (!path || path[0] == '#') return;
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "Preheating template: %s", path);
    char file[kMaxResourceName + 64];
    BinaryTemplateName(path, file, sizeof file);
    gFileSystem.SetPreheatFile(file, kBinaryTemplateExtension, nullptr, 0);
}

bool EntityTemplate::LoadResource() {
    const char* path = GetName();
    if (!path) return false;
    if (path[0] == '#') {
        BoundedReader* in = optimizedSource;
        if (!in || in->Failed()) return false;
        if (ReadBinaryTemplate(*in, this)) return true;
        gLog.Error(LogCategory::Engine, "EntityTemplate::LoadResource - truncated optimized template %s", path);
        return false;
    }
    // Binary templates are always allowed and no shared resource is held unless
    // something sets one, so RequiresSharedResource has nothing to act on here.
    char file[kMaxResourceName + 64];
    BinaryTemplateName(path, file, sizeof file);
    std::vector<uint8_t> bytes;
    if (!fs::ReadWholeFile(file, kBinaryTemplateExtension, nullptr, &bytes)) return false;
    gResourceManager.PreheatReadAheadResource();
    BoundedReader in(bytes.data(), bytes.size());
    if (ReadBinaryTemplate(in, this)) return true;
    gLog.Error(LogCategory::Engine, "EntityTemplate::LoadResource - corrupt binary template %s", file);
    return false;
}

// ---------------------------------------------------------------------------------
// Optimized templates.

bool ReadOptimizedHeader(BoundedReader& in, const char* sceneName, uint32_t* count) {
    uint32_t version = 0;
    if (!in.ReadU32(version) || !in.ReadU32(*count)) return false;
    if (version < kMinOptimizedVersion) {
        gLog.Print(LogSeverity::Error, LogCategory::UI, "Wrong opt file version %s", sceneName ? sceneName : "");
        return false;
    }
    return in.CheckCount(*count, kMinTemplateBytes);
}

void LoadOptimizedTemplates(const char* sceneName, const char* directory) {
    const int64_t start = os::ReadCounter();
    std::vector<uint8_t> bytes;
    if (!fs::ReadWholeFile(sceneName, "opt", directory, &bytes) || bytes.size() < 8) return;
    OptimizedBatch batch(std::move(bytes));
    uint32_t count = 0;
    if (!ReadOptimizedHeader(batch.in, sceneName, &count)) return;

    // The names are those of an earlier file's templates: the unused ones give them back;
    // one still in use would be read over, so this file is not loaded then.
    gEntityTemplateRegistry.DropOptimizedStubs();
    for (uint32_t i = 0; i < count; ++i) {
        char name[32];
        OptimizedName(i, name, sizeof name);
        Resource* r = gResourceManager.GetResource(RESOURCE_TEMPLATE, name, 0, false, 0);
        EntityTemplate* t = TemplateFromResource(r);
        const bool inUse = t && t->stub;
        if (r) r->Release();
        if (inUse) {
            gLog.Error(LogCategory::Engine, "LoadOptimizedTemplates - %s is still in use, %s not loaded", name,
                       sceneName);
            return;
        }
    }
    if (count) {
        // One job makes and reads the entries in file order; the flush is the wait for it.
        batch.count = count;
        const uint8_t noPayload = 0;
        BaseThread::PostCallOrRunInline(&gResourceManager, &LoadOptimizedBatch, &batch, &noPayload, 0);
        gVornexRenderer.FlushCommands(false);
        gResourceManager.Flush();
    }
    std::vector<EntityTemplateStub*> stubs;
    for (Resource* r : batch.resources) {
        EntityTemplateStub* stub = new EntityTemplateStub();
        stub->flags |= STUB_FLAG_OPTIMIZED;
        stub->SetFileName(r->GetName());
        stub->SetTemplate(TemplateFromResource(r));
        stubs.push_back(stub);
    }
    const uint32_t read = batch.read.load(std::memory_order_acquire);
    {
        EntityTemplateRegistry& registry = gEntityTemplateRegistry;
        CriticalSectionGuard guard(&registry.Lock());
        for (size_t i = 0; i < stubs.size(); ++i) {
            EntityTemplateStub* stub = stubs[i];
            EntityTemplate* t = stub->GetLoadedTemplate();
            stub->guid = t->guid;
            stub->typeId = t->typeId;
            if (i >= read || !registry.InsertStub(stub)) {
                // Not read (the stream ended or broke) or refused for a GUID already known:
                // released with its template.
                stub->ReleaseTemplate();
                delete stub;
            }
        }
    }
    gLog.Print(LogSeverity::Progress, LogCategory::Engine, "LoadOptimizedTemplates in %f sec", SecondsSince(start));
}

// ---------------------------------------------------------------------------------
// Registry scanning and start-up.

void EntityTemplateRegistry::RegisterTemplateDirectory(TemplateFolder* folder, char* path, uint32_t pathSize,
                                                       bool regenerate, uint32_t depth) {
    struct Entry {
        std::string name;
        bool directory;
    };
    std::vector<Entry> entries;
    {
        FileSystemDirectoryIterator it(path, "*");
        char name[260];
        while (it.GetName()) {
            const bool directory = it.IsDirectory();
            if (!it.Step(name, sizeof name)) break;
            entries.push_back({name, directory});
        }
    }
    // Name order, so which of two files with one GUID registers does not depend on the
    // order the operating system lists them in.
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return CompareNames(a.name, b.name) < 0; });
    const size_t pathLength = std::strlen(path);
    for (const Entry& e : entries) {
        const char* name = e.name.c_str();
        if (e.directory) {
            if (!std::strcmp(name, ".") || !std::strcmp(name, "..") || !RTTIStricmp(name, ".svn")) continue;
            if (depth >= kMaxTemplateFolderDepth) continue;
            if (pathLength + 1 + e.name.size() + 1 > pathSize) continue;
            TemplateFolder* child;
            {
                CriticalSectionGuard guard(&lock);
                child = folder->AddFolder(name);
            }
            std::snprintf(path + pathLength, pathSize - pathLength, "/%s", name);
            RegisterTemplateDirectory(child, path, pathSize, false, depth + 1);
            path[pathLength] = 0;
            continue;
        }
        size_t baseLength = 0;
        if (!HasTemplateExtension(name, &baseLength)) continue;
        const std::string base(name, baseLength);
        EntityTemplateStub* stub = new EntityTemplateStub();
        if (!ReadTemplateStubHeader(stub, base.c_str(), path)) {
            gLog.Error(LogCategory::Engine, "Unable to load template entity from file: %s/%s", path, name);
            delete stub;
            continue;
        }
        if (regenerate) stub->guid.Generate();
        CriticalSectionGuard guard(&lock);
        if (!InsertStub(stub)) {
            char holderPath[kMaxResourceName + 1] = "";
            if (EntityTemplateStub* holder = FindStubByGUID(stub->guid)) holder->GetFullPath(holderPath, sizeof holderPath);
            gLog.Error(LogCategory::Engine, "Unable to register template due to duplicated GUID: %s/%s (guid used by %s)",
                       path, name, holderPath);
            delete stub;
            continue;
        }
        folder->AddStub(stub);
    }
}

void EntityTemplateRegistry::ScanTemplates() {
    char path[fs::kMaxPath] = "templates";
    RegisterTemplateDirectory(root, path, sizeof path, false);
}

void EntityTemplateRegistry::Init() {
    if (initialised) return;
    if (gGameConfig && gGameConfig->IsStandaloneBuild()) ReadTemplateInfoFile(*this);
    else ScanTemplates();
    initialised = true;
    GetSceneContentServices().SetMeshShaderPreset("Default");
}
