#pragma once
// VertexDeclarationCache: one shared device declaration per distinct element list, and
// static vertex and index buffers created and filled in one call.
//
// Entries are kept sorted by element count, then by the element bytes compared as
// unsigned bytes (the end marker is part of the list), and found by binary search.
// Every declaration handed out carries a reference for the caller.
//
// Threads: render thread (created with the device, cleared with the device resources).
#include <cstdint>
#include <vector>

#include "platform/gfx/GfxDevice.h"

class VertexDeclarationCache {
public:
    explicit VertexDeclarationCache(gfx::Device* device) : device(device) {}
    ~VertexDeclarationCache() { Clear(); }
    VertexDeclarationCache(const VertexDeclarationCache&) = delete;
    VertexDeclarationCache& operator=(const VertexDeclarationCache&) = delete;

    // count includes the end marker. Null when the device refuses the list.
    gfx::VertexDeclaration* GetOrCreate(const gfx::VertexElement* elements, uint32_t count);
    // Without data the buffer is left as created and never locked. Null on failure.
    gfx::VertexBuffer* CreateVertexBuffer(uint32_t length, uint32_t usage, gfx::Pool pool, const void* data);
    gfx::IndexBuffer* CreateIndexBuffer(uint32_t length, uint32_t usage, gfx::Pool pool, const void* data);
    // Releases every cached declaration.
    void Clear();
    uint32_t Count() const { return static_cast<uint32_t>(entries.size()); }

private:
    struct Entry {
        std::vector<gfx::VertexElement> elements;
        gfx::VertexDeclaration* declaration;
    };
    gfx::Device* device;
    std::vector<Entry> entries;
};
