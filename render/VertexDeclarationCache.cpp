#include "render/VertexDeclarationCache.h"

#include <algorithm>
#include <cstring>

namespace {

// Count first, then the element bytes as unsigned values.
int Compare(const gfx::VertexElement* a, uint32_t countA, const gfx::VertexElement* b, uint32_t countB) {
    if (countA != countB) return countA < countB ? -1 : 1;
    return std::memcmp(a, b, countA * sizeof(gfx::VertexElement));
}

template <class Buffer>
Buffer* Fill(Buffer* buffer, uint32_t length, const void* data) {
    if (!buffer || !data) return buffer;
    void* target = nullptr;
    if (gfx::Succeeded(buffer->Lock(0, 0, &target, 0))) {
        std::memcpy(target, data, length);
        buffer->Unlock();
    }
    return buffer;
}

}  // namespace

gfx::VertexDeclaration* VertexDeclarationCache::GetOrCreate(const gfx::VertexElement* elements, uint32_t count) {
    if (!elements || count == 0 || !device) return nullptr;
    auto at = std::lower_bound(entries.begin(), entries.end(), 0, [&](const Entry& e, int) {
        return Compare(e.elements.data(), static_cast<uint32_t>(e.elements.size()), elements, count) < 0;
    });
    if (at != entries.end() &&
        Compare(at->elements.data(), static_cast<uint32_t>(at->elements.size()), elements, count) == 0) {
        at->declaration->AddRef();
        return at->declaration;
    }
    gfx::VertexDeclaration* created = nullptr;
    if (gfx::Failed(device->CreateVertexDeclaration(elements, &created)) || !created) return nullptr;
    created->AddRef();  // the cache's own reference
    entries.insert(at, Entry{std::vector<gfx::VertexElement>(elements, elements + count), created});
    return created;
}

gfx::VertexBuffer* VertexDeclarationCache::CreateVertexBuffer(uint32_t length, uint32_t usage, gfx::Pool pool,
                                                              const void* data) {
    gfx::VertexBuffer* buffer = nullptr;
    if (!device || gfx::Failed(device->CreateVertexBuffer(length, usage, 0, pool, &buffer, nullptr))) return nullptr;
    return Fill(buffer, length, data);
}

gfx::IndexBuffer* VertexDeclarationCache::CreateIndexBuffer(uint32_t length, uint32_t usage, gfx::Pool pool,
                                                            const void* data) {
    gfx::IndexBuffer* buffer = nullptr;
    if (!device || gfx::Failed(device->CreateIndexBuffer(length, usage, gfx::FMT_INDEX16, pool, &buffer, nullptr)))
        return nullptr;
    return Fill(buffer, length, data);
}

void VertexDeclarationCache::Clear() {
    for (Entry& e : entries) e.declaration->Release();
    entries.clear();
}
