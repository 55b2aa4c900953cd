// The entity-pointer pass: per-thread pending lists resolved at the end of the
// outermost deserialisation, and the properties of types 27 and 28.
#include "core/rtti/RTTIEntityPointer.h"

#include <cstring>
#include <memory>
#include <vector>

#include "core/Log.h"
#include "core/rtti/GUIDReplacement.h"

namespace {

struct PendingRecord {
    SimpleGUID guid;
    uint32_t expectedType;
    const RTTIEntityPointerTarget* target;
    void* object;
    uint32_t index;
};

struct PassState {
    bool open = false;
    bool resolving = false;
    uint32_t scratchDepth = 0;  // EntityPointerScratchScope nesting
    std::vector<PendingRecord> raw;
    std::vector<PendingRecord> safe;
    std::unique_ptr<GUIDReplacementTable> table;
};

thread_local PassState tPass;
EntityPointerResolver* gResolver = nullptr;

RTTIPolyBaseClass* Lookup(const SimpleGUID& guid) {
    RTTIPolyBaseClass* e = gResolver ? gResolver->FindEntityByGUID(guid) : nullptr;
    if (!e) gLog.Error(LogCategory::Engine, "Unable to deserialize entity pointer. Guid=%s", guid.ToStringUnsafe());
    return e;
}

}  // namespace

void SetEntityPointerResolver(EntityPointerResolver* resolver) { gResolver = resolver; }
EntityPointerResolver* GetEntityPointerResolver() { return gResolver; }

bool EntityPointerFixups::Begin() {
    if (tPass.open) return false;
    tPass.open = true;
    tPass.table = std::make_unique<GUIDReplacementTable>();
    return true;
}

bool EntityPointerFixups::IsOpen() { return tPass.open; }

bool EntityPointerFixups::Resolving() { return tPass.resolving; }

SimpleGUID EntityPointerFixups::Translate(const SimpleGUID& guid) {
    return tPass.open && tPass.table ? tPass.table->Translate(guid) : guid;
}

void EntityPointerFixups::Resolve() {
    if (!tPass.open) return;
    tPass.open = false;
    std::vector<PendingRecord> raw, safe;
    raw.swap(tPass.raw);
    safe.swap(tPass.safe);
    std::unique_ptr<GUIDReplacementTable> table = std::move(tPass.table);
    // A record's target may deserialise again and resolve a pass of its own.
    const bool outer = tPass.resolving;
    tPass.resolving = true;
    for (const std::vector<PendingRecord>* list : {&raw, &safe}) {
        for (const PendingRecord& r : *list) {
            const SimpleGUID guid = table ? table->Translate(r.guid) : r.guid;
            RTTIPolyBaseClass* e = Lookup(guid);
            if (!e) continue;
            if (r.expectedType != 0) {
                const uint32_t type = gResolver->GetEntityTemplateType(e);
                if (!TemplateTypeTable::IsA(type, r.expectedType)) {
                    gLog.Error(LogCategory::Engine, "Unable to deserialize entity pointer due to type mismatch. Guid=%s, type=%d, expected=%d",
                               guid.ToStringUnsafe(), static_cast<int>(type), static_cast<int>(r.expectedType));
                    continue;
                }
            }
            r.target->ApplyEntity(r.object, r.index, e);
        }
    }
    tPass.resolving = outer;
}

void EntityPointerFixups::Assign(const SimpleGUID& guid, uint32_t expectedType, bool safeList,
                                 const RTTIEntityPointerTarget* target, void* object, uint32_t index) {
    if (tPass.scratchDepth) return;
    if (guid.IsNull()) {
        target->ApplyEntity(object, index, nullptr);
        return;
    }
    if (tPass.open) {
        (safeList ? tPass.safe : tPass.raw).push_back({guid, expectedType, target, object, index});
        return;
    }
    // No pass open: resolve at once (also for safe pointers, which would otherwise
    // wait for an unrelated later pass and might write into a dead object).
    target->ApplyEntity(object, index, Lookup(guid));
}

EntityPointerScratchScope::EntityPointerScratchScope() { ++tPass.scratchDepth; }
EntityPointerScratchScope::~EntityPointerScratchScope() { --tPass.scratchDepth; }

SimpleGUID EntityPointerFixups::GuidOf(const RTTIPolyBaseClass* entity) {
    return entity && gResolver ? gResolver->GetEntityGUID(entity) : SimpleGUID{};
}

uint32_t RTTIWriteGuid(uint8_t* d, const SimpleGUID& guid) {
    if (d) std::memcpy(d, guid.bytes, 16);
    return 16;
}

bool RTTIEntityPointerPropertyBase::ToString(const void* object, char* buffer, uint32_t size) const {
    EntityPointerFixups::GuidOf(GetTarget(object)).ToString(buffer, size);
    return true;
}

bool RTTIEntityPointerPropertyBase::FromString(void* object, const char* text) const {
    SimpleGUID guid;
    if (!text || !guid.FromString(text)) return false;
    EntityPointerFixups::Assign(guid, expectedType, TypeId() == 28, this, object, 0);
    return true;
}

uint32_t RTTIEntityPointerPropertyBase::WriteBinary(uint8_t* d, const void* object, uint32_t) const {
    return RTTIWriteGuid(d, EntityPointerFixups::GuidOf(GetTarget(object)));
}

bool RTTIEntityPointerPropertyBase::ReadBinary(BoundedReader& in, void* object, uint32_t) const {
    SimpleGUID guid;
    if (!in.Read(guid.bytes, 16)) return false;
    EntityPointerFixups::Assign(guid, expectedType, TypeId() == 28, this, object, 0);
    return true;
}
