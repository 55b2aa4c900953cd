#pragma once
// Resource lists: the resources a scene needs, preloaded by the ResourceManager's
// loader (command 13) before the scene starts. A list is a Solid blob read with option
// 4 (no check value, no CRC) from "<scene>.ResList" in "scenes".
//
// Preload order: "Shaders", "Textures", "Animations", "Sounds", "Templates"; "Fonts",
// "StreamableSounds", "Voices" and "Videos" are carried but not preloaded. Preloaded
// resources stay in their pools without users until an eviction.
//
// Threads: the preload runs on the loader thread (ResourceManager::PreloadListFile).
#include <cstdint>

#include "core/Dynarray.h"
#include "core/rtti/RTTIClass.h"
#include "core/text/NameString.h"

// One entry (plain record, class "ResourceEntry").
struct ResourceEntry {
    NameString name;          // as given to ResourceManager::GetResource
    uint32_t parameter = 0;   // creation parameter (a template's type row)
    uint32_t flags = 0;       // ORed into the resource

    static const RTTIClass* RegisterClass();
};

class ResourceList : public RTTIPolyBaseClass {
public:
    enum Kind : uint32_t {
        TEXTURES, SHADERS, TEMPLATES, FONTS, SOUNDS, STREAMABLE_SOUNDS, ANIMATIONS, VOICES, VIDEOS, KIND_COUNT
    };

    ResourceList() = default;
    ResourceList(const ResourceList&) = delete;
    ResourceList& operator=(const ResourceList&) = delete;

    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }

    // The arrays in property order.
    DynarraySafe<ResourceEntry> entries[KIND_COUNT];

    // Templates are preloaded through the entity library (TemplateResourceServices: it
    // acquires the named template from its registry, which loads it, and releases its
    // resource part); without a registry template entries are skipped with one line per
    // list.

    // Shaders in a list are named for the device that wrote it: the shader library's hook
    // makes a name's hardware-depth bits this device's (in place; the name keeps its
    // length). Set at start-up; without it names are used as written.
    using ShaderNameHook = void (*)(char* name);
    static void SetShaderNameHook(ShaderNameHook hook);
};
