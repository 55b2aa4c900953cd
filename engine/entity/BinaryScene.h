#pragma once
// Binary scenes: a level as the scene root's properties, each entity as a template
// GUID with its property list, the entity sets, the layer system, an optional walk
// grid and the scene's sequences (little-endian).
//
// The reader is bounded: every count and size is checked against the bytes left; each
// entity record continues after its stated size whatever its property reader consumed;
// an entity or set whose list is refused is dropped with one line; a scene cut short
// keeps what it loaded (pointers resolved, post-load hooks run). Each entity keeps the
// world placement its record holds when it is linked to its parent.
//
// Threads: main thread only.
#include <cstddef>
#include <cstdint>

constexpr const char* kBinarySceneExtension = "BinaryScene";

enum : uint32_t {
    SCENEPARSE_INSTALL_GRID = 1,  // the grid replaces the EntityManager's (else discarded)
    SCENEPARSE_SEQUENCES = 2,     // the sequence system reads its property list
};

// Opens name.BinaryScene in directory, reads it whole and parses it.
void LoadBinaryScene(const char* name, const char* directory, uint32_t parseFlags, uint32_t propertyFlags);
// False when the image was cut short or corrupt (what was loaded stays).
bool ParseBinaryScene(const uint8_t* image, size_t size, uint32_t parseFlags, uint32_t propertyFlags);
