// Resource lists and their preload on the loader thread (command 13).
#include "render/resources/ResourceList.h"

#include <atomic>
#include <cstring>

#include "core/Log.h"
#include "core/StaticInit.h"
#include "core/Time.h"
#include "core/fs/FileReader.h"
#include "core/fs/FsUtil.h"
#include "core/rtti/RTTIArrayProperty.h"
#include "core/rtti/SolidFile.h"
#include "render/resources/Resource.h"
#include "render/resources/ResourceManager.h"
#include "render/resources/TemplateResourceServices.h"

namespace {

RTTIClass* gEntryClass = nullptr;
RTTIClass* gListClass = nullptr;
std::atomic<ResourceList::ShaderNameHook> gShaderNameHook{nullptr};

constexpr const char* kKindNames[ResourceList::KIND_COUNT] = {
    "Textures", "Shaders", "Templates", "Fonts", "Sounds", "StreamableSounds", "Animations", "Voices", "Videos"};
constexpr const char kTemplatePrefix[] = "templates/";

bool HasTemplatePrefix(const char* name) {
    for (size_t i = 0; i + 1 < sizeof kTemplatePrefix; ++i)
        if (fs::FoldAscii(static_cast<unsigned char>(name[i])) != static_cast<unsigned char>(kTemplatePrefix[i])) return false;
    return true;
}

// A name a list holds is text: printable ASCII or well-formed UTF-8, no control
// characters. Anything else is damage.
bool NameIsText(const char* name) {
    const auto* p = reinterpret_cast<const unsigned char*>(name);
    while (*p) {
        const unsigned char c = *p;
        uint32_t follow = 0;
        if (c < 0x20 || c == 0x7F) return false;
        if (c >= 0x80) {
            if (c >= 0xC2 && c <= 0xDF) follow = 1;
            else if (c >= 0xE0 && c <= 0xEF) follow = 2;
            else if (c >= 0xF0 && c <= 0xF4) follow = 3;
            else return false;
        }
        ++p;
        for (uint32_t i = 0; i < follow; ++i, ++p)
            if ((*p & 0xC0) != 0x80) return false;
    }
    return true;
}

// A damaged entry is left out with one line naming the list, the kind and the entry's
// index (its bytes would say nothing and could break the line).
void DropDamagedEntries(ResourceList& list, const char* path) {
    for (uint32_t k = 0; k < ResourceList::KIND_COUNT; ++k) {
        DynarraySafe<ResourceEntry>& entries = list.entries[k];
        for (uint32_t i = 0, index = 0; i < entries.Count(); ++index) {
            if (NameIsText(entries[i].name.CStr())) {
                ++i;
                continue;
            }
            gLog.Error(LogCategory::Resources, "Resource list %s: %s entry %u has a damaged name; it is skipped",
                       path ? path : "", kKindNames[k], index);
            entries.Remove(i);
        }
    }
}

}  // namespace

const RTTIClass* ResourceEntry::RegisterClass() {
    if (gEntryClass) return gEntryClass;
    RTTIClass* c = CreateRegisteredClass(gEntryClass, "ResourceEntry", kRTTIRootBaseName);
    c->AddProperty(new RTTIDirectAccessTypedProperty<NameString>("Name", RTTI_OFFSETOF(ResourceEntry, name)));
    c->AddProperty(new RTTIDirectAccessTypedProperty<uint32_t>("Parameter", RTTI_OFFSETOF(ResourceEntry, parameter)));
    c->AddProperty(new RTTIDirectAccessTypedProperty<uint32_t>("Flags", RTTI_OFFSETOF(ResourceEntry, flags)));
    return c;
}

const RTTIClass* ResourceList::RegisterClass() {
    if (gListClass) return gListClass;
    const RTTIClass* entry = ResourceEntry::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gListClass, "ResourceList", kRTTIRootBaseName,
                                         [](int32_t) -> RTTIPolyBaseClass* { return new ResourceList; });
    for (uint32_t k = 0; k < KIND_COUNT; ++k)
        c->AddProperty(new RTTIDynarrayOfEmbeddedObjectsProperty<DynarraySafe<ResourceEntry>>(
            kKindNames[k], RTTI_OFFSETOF(ResourceList, entries) + k * sizeof(DynarraySafe<ResourceEntry>), entry));
    return c;
}

void ResourceList::SetShaderNameHook(ShaderNameHook hook) { gShaderNameHook.store(hook); }

// ---------------------------------------------------------------------------------------
// The preload (ResourceManager's loader thread)

void ResourceManager::PreloadListFile(const char* path) {
    FileReader reader(path, nullptr, nullptr);
    if (reader.IsOpen()) {
        ResourceList list;
        // A list that does not read whole (its line is logged) preloads nothing.
        if (SolidDeserializeFromFileReader(list, reader, 4, path)) {
            DropDamagedEntries(list, path);
            PreloadResources(list);
        }
    } else {
        gLog.Error(LogCategory::Engine, "Cannot preload resource list from %s", path ? path : "");
    }
    SetReadAheadResource(nullptr);
}

void ResourceManager::PreloadResources(const ResourceList& list) {
    Time start;
    start.LoadHardwareTime();
    gLog.Print(LogSeverity::Progress, LogCategory::RenderDevice, "PreloadResources begin");

    // Shaders: named for the device that wrote the list; their hardware-depth bits are
    // made this device's before the resource is got.
    for (const ResourceEntry& e : list.entries[ResourceList::SHADERS]) {
        char name[kMaxResourceName + 1];
        const char* use = e.name.CStr();
        if (std::strlen(use) <= kMaxResourceName) {
            std::strcpy(name, use);
            if (const ResourceList::ShaderNameHook fix = gShaderNameHook.load()) fix(name);
            use = name;
        }
        if (Resource* r = GetResource(RESOURCE_SHADER, use, e.parameter, true, e.flags)) {
            r->Load(false);
            r->Release();
        }
        PumpStreams();
    }

    // Textures, animations, sounds: the next entry is read ahead while this one loads.
    const struct {
        ResourceList::Kind kind;
        uint32_t type;
    } kReadAheadKinds[] = {{ResourceList::TEXTURES, RESOURCE_TEXTURE},
                           {ResourceList::ANIMATIONS, RESOURCE_ANIMATION},
                           {ResourceList::SOUNDS, RESOURCE_SOUND}};
    for (const auto& k : kReadAheadKinds) {
        const DynarraySafe<ResourceEntry>& entries = list.entries[k.kind];
        for (uint32_t i = 0; i < entries.Count(); ++i) {
            const ResourceEntry& e = entries[i];
            Resource* r = GetResource(k.type, e.name.CStr(), e.parameter, true, e.flags);
            if (r && i + 1 < entries.Count()) {
                const ResourceEntry& next = entries[i + 1];
                Resource* ahead = GetResource(k.type, next.name.CStr(), next.parameter, true, next.flags);
                SetReadAheadResource(ahead);
                if (ahead) ahead->Release();
            }
            if (r) {
                r->Load(false);
                r->Release();
            }
            PumpStreams();
        }
    }

    const DynarraySafe<ResourceEntry>& templates = list.entries[ResourceList::TEMPLATES];
    TemplateResourceServices& registry = GetTemplateResourceServices();
    const bool hasRegistry = registry.HasTemplateRegistry();
    if (templates.Count() && !hasRegistry)
        gLog.Warning(LogCategory::RenderDevice, "PreloadResources - no template registry: %u templates skipped",
                     templates.Count());
    for (const ResourceEntry& e : templates) {
        const char* n = e.name.CStr();
        if (hasRegistry && HasTemplatePrefix(n)) registry.PreloadTemplate(n + sizeof kTemplatePrefix - 1);
        PumpStreams();
    }

    Time end;
    end.LoadHardwareTime();
    gLog.Print(LogSeverity::Progress, LogCategory::RenderDevice, "PreloadResources end. Time: %f",
               (end - start).ToSeconds());
}
