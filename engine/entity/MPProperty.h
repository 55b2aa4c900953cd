#pragma once
// Multiplayer properties: the kinds and flags a replicated entity declares its shared
// state with, and the field buffer their quantised values travel in.
//
// MPFieldBuffer holds up to 64 fields. On the authority each field is one property's
// value at its exact bit width, starting on a byte boundary (field i = property i,
// appended in property order). A buffer read from the wire instead holds the present
// fields packed back to back as one block of totalBits bits (fieldCount 0); the reader
// takes them out in property order with each property's own width.
//
// A plain value: copied whole through the command ring, the callback queue and the
// network thread's states.
#include <cstdint>

#include "engine/script/MPMethodCall.h"  // kNoMultiplayerId

enum MPPropType : uint32_t {
    MPPROPTYPE_UNKNOWN = 0,
    MPPROPTYPE_INT = 1,
    MPPROPTYPE_FLOAT = 2,
    MPPROPTYPE_FLOAT_POSY = 3,
    MPPROPTYPE_FLOAT_ANIM_PROGRESS = 4,
    MPPROPTYPE_VEC_ANGLEY = 5,
    MPPROPTYPE_VEC_ANGLEXY = 6,
    MPPROPTYPE_VEC_SCALE = 7,
    MPPROPTYPE_VEC_POS = 8,
    MPPROPTYPE_VEC_POSXZ = 9,  // the standard "PosXZ"; not visible to scripts
    MPPROPTYPE_BOOL = 10,
    MPPROPTYPE_ANIM = 11,
    MPPROPTYPE_ENTITY = 12,
    MPPROPTYPE_COUNT = 13,
};

enum MPPropFlag : uint32_t {
    MPPROPFLAG_NULL = 0,
    MPPROPFLAG_CALLBACK = 1,
    MPPROPFLAG_DISABLELERP = 2,
    MPPROPFLAG_CBNOLERP = 3,
    MPPROPFLAG_OWNEDBYCLIENT = 4,
};

constexpr uint32_t kMaxMPProperties = 64;
constexpr uint32_t kMPFieldBufferBytes = 256;
// The wire carries the field total in at most 11 bits.
constexpr uint32_t kMaxMPFieldBits = 2047;

struct MPFieldBuffer {
    uint8_t data[kMPFieldBufferBytes] = {};
    uint32_t bitLengths[kMaxMPProperties] = {};
    uint16_t referencedIds[kMaxMPProperties] = {};
    uint32_t totalBits = 0;
    uint32_t bytesUsed = 0;
    uint32_t fieldCount = 0;

    MPFieldBuffer() {
        for (uint16_t& id : referencedIds) id = kNoMultiplayerId;
    }
    void Clear() { *this = MPFieldBuffer(); }
    // Appends the low `bits` bits of value (bits <= 64) as the next field; false (nothing
    // appended) when the field count or the data bytes would overflow.
    bool Append(uint64_t value, uint32_t bits, uint16_t referencedId = kNoMultiplayerId);
    // Byte offset of field i of an appended buffer (i <= fieldCount).
    uint32_t FieldOffset(uint32_t i) const;
    // Field i of an appended buffer (0 for a field that does not exist).
    uint64_t FieldValue(uint32_t i) const;
};
