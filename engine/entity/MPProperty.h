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
#include <cstring>

#include <vector>

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
    // Empty again. The data bytes are not cleared: every reader is bounded by the
    // totals, and Append writes every byte of a field. Lengths and ids past the field
    // count always hold 0 and none.
    void Clear() {
        // Four entries a step: those past the count already hold 0 and none.
        static_assert(kMaxMPProperties % 4 == 0);
        const uint32_t n = fieldCount < kMaxMPProperties ? fieldCount : kMaxMPProperties;
        const uint32_t zeros[4] = {};
        const uint16_t none[4] = {kNoMultiplayerId, kNoMultiplayerId, kNoMultiplayerId, kNoMultiplayerId};
        for (uint32_t i = 0; i < n; i += 4) {
            std::memcpy(bitLengths + i, zeros, sizeof zeros);
            std::memcpy(referencedIds + i, none, sizeof none);
        }
        totalBits = bytesUsed = fieldCount = 0;
    }
    // Appends the low `bits` bits of value (bits <= 64) as the next field; false (nothing
    // appended) when the field count or the data bytes would overflow.
    bool Append(uint64_t value, uint32_t bits, uint16_t referencedId = kNoMultiplayerId) {
        const uint32_t n = fieldCount, used = bytesUsed, total = totalBits;
        const uint32_t bytes = (bits + 7) / 8;
        if (bits > 64 || n >= kMaxMPProperties) return false;
        if (bits < 64) value &= (uint64_t(1) << bits) - 1;
        // The data first: the member stores after it then reach the next append directly.
        // One 8-byte store where it fits (the bytes past the field are free and get zeros).
        if (used <= kMPFieldBufferBytes - 8) {
            std::memcpy(data + used, &value, 8);
        } else {
            if (used > kMPFieldBufferBytes || bytes > kMPFieldBufferBytes - used) return false;
            for (uint32_t k = 0; k < bytes; ++k) data[used + k] = static_cast<uint8_t>(value >> (8 * k));
        }
        bitLengths[n] = bits;
        referencedIds[n] = referencedId;
        fieldCount = n + 1;
        bytesUsed = used + bytes;
        totalBits = total + bits;
        return true;
    }
    // The used part of another buffer: its data bytes, lengths and ids and totals (the
    // rest of this one keeps the state Clear leaves).
    void CopyUsed(const MPFieldBuffer& from);
    // Byte offset of field i of an appended buffer (i <= fieldCount).
    uint32_t FieldOffset(uint32_t i) const;
    // Field i of an appended buffer (0 for a field that does not exist).
    uint64_t FieldValue(uint32_t i) const;

};

// ---------------------------------------------------------------------------------
// Properties and their container (main thread only)

#include "core/math/Vector.h"
#include "core/rtti/SafePointer.h"

class Entity;
class Player;

// State bits of a property.
enum : uint8_t {
    MPPROPSTATE_RECEIVED = 1,
    MPPROPSTATE_EXTRAPOLATING = 2,
    MPPROPSTATE_PENDING = 4,
    MPPROPSTATE_APPLIED = 8,
    MPPROPSTATE_ANIM_LOOPING = 16,
    MPPROPSTATE_ANIM_CHANGED = 32,
};

constexpr uint32_t kMPSnapshots = 4;
constexpr uint8_t kNoMPProperty = 255;
constexpr uint32_t kMPRefused = 0xFFFFFFFFu;
// A received value is extrapolated at most this far past the newest snapshot (µs).
constexpr uint64_t kMPExtrapolationLimitUs = 200000;

// One value of a property with its game-clock time and set flag. Only the member of
// the property's kind is meaningful.
struct MPValue {
    int32_t i = 0;
    float f = 0.0f;
    uint8_t b = 0;
    Vector v{0.0f, 0.0f, 0.0f, 1.0f};
    float animProgress = 0.0f;
    uint8_t animIndex = kNoMPProperty;
    uint8_t animLoop = 0;
    SafePointer<Entity> entity;
    uint64_t time = 0;
    uint8_t setFlag = 0;
};

struct MPProperty {
    uint32_t kind = MPPROPTYPE_UNKNOWN;
    uint32_t flags = MPPROPFLAG_NULL;
    uint32_t snapshotCount = 1;
    MPValue snapshots[kMPSnapshots];  // newest first
    MPValue current;
    MPValue blendFrom;
    MPValue pending;
    uint64_t lastAppliedTime = ~uint64_t(0);
    uint64_t blendStart = 0;  // 0: no blend
    uint8_t changed = 0;
    uint8_t state = 0;
    int32_t intMin = 0, intMax = 255;
    float floatMin = 0.0f, floatMax = 1.0f, floatStep = 0.01f;
    uint32_t bits = 0;
    const char* name = "";
};

// The bit width of an INT range (the range's max widened to min + 2^b - 1) and of a
// FLOAT range and step (the step becomes (max - min) / (2^b - 1)); each 1 to 24.
uint32_t MPPropIntBits(int32_t min, int32_t& max);
uint32_t MPPropFloatBits(float min, float max, float& step);
uint32_t MPPropKindBits(uint32_t kind);
// Wraps an angle into [0, 360).
inline float MPPropWrapAngle(float degrees);

// The replication box all position encodings quantise against (max above min on every
// axis; the EntityManager's world box at start-up).
void SetMPReplicationBox(const Vector& min, const Vector& max);
void GetMPReplicationBox(Vector* min, Vector* max);
// What only the multiplayer layer knows: the local player (null outside a match) and the
// previous and latest complete host frame times on the local clock (µs).
void SetMPLocalPlayer(Player* player);
Player* GetMPLocalPlayer();
void SetMPHostFrameTimes(uint64_t previous, uint64_t latest);

// The quantised form of a value of a property (its own bits) and back. Inline: a
// record's fields are encoded and decoded per entity per step. The kinds a replicated
// entity sends every step are encoded here; the rest, and positions outside the box
// (warned about and clamped), out of line.
inline uint64_t MPPropEncode(const MPProperty& p, const MPValue& value, uint16_t* referencedId);
inline void MPPropDecode(const MPProperty& p, uint64_t q, MPValue& out);

namespace mpprop_detail {

// One axis of the replication box, as the position encodings use it.
struct BoxAxis {
    float min, max;
    float span;        // max - min
    double invSpan;    // 1 / span
};
extern BoxAxis gBox[3];  // x, y, z

constexpr float kInv65535 = 1.5259022e-5f;
constexpr double kInv360 = 1.0 / 360.0;
constexpr double kInv1023 = 1.0 / 1023.0;

inline uint32_t Round(float x) {
    if (!(x > 0.0f)) return 0u;
    return x < 4294967040.0f ? static_cast<uint32_t>(x + 0.5f) : 0xFFFFFFFFu;  // no conversion out of range
}
// a / b for floats a >= 0 and b > 0, the same float as the division: the double product
// a * (1 / b) lies within 2^-52 of the true quotient, and a quotient of two floats is
// never within 2^-49 of a point halfway between two floats, so both round alike.
inline float Quotient(float a, double reciprocal) { return static_cast<float>(double(a) * reciprocal); }

inline bool Inside(float c, const BoxAxis& a) { return c >= a.min && c <= a.max; }  // false for NaN
// A box coordinate in 16 bits (the caller clamps): (c - min) * 65535 / (max - min).
inline uint64_t BoxQ(float c, const BoxAxis& a) {
    const uint32_t q = Round(Quotient((c - a.min) * 65535.0f, a.invSpan));
    return q > 65535 ? 65535 : q;
}
inline float BoxDecode(uint64_t q, const BoxAxis& a) { return a.min + a.span * float(uint32_t(q & 0xFFFF)) * kInv65535; }

float WrapAngleFar(float degrees);
// A position kind with some coordinate outside the box: the warning, then the clamped code.
uint64_t EncodeOutsideBox(const MPProperty& p, const MPValue& value);
uint64_t EncodeOther(const MPProperty& p, const MPValue& value, uint16_t* referencedId);
void DecodeOther(const MPProperty& p, uint64_t q, MPValue& out);

}  // namespace mpprop_detail

inline float MPPropWrapAngle(float a) {
    // Within one turn either way fmod(a, 360) is a, and a + 360 lies in [0, 720], where
    // the outer fmod is a subtraction (exact there) or nothing: the same float as two
    // fmods, without their cost.
    if (a > -360.0f && a < 360.0f) {
        float w = a + 360.0f;
        if (w >= 360.0f) w -= 360.0f;
        return w >= 360.0f ? 0.0f : w;
    }
    return mpprop_detail::WrapAngleFar(a);
}

inline uint64_t MPPropEncode(const MPProperty& p, const MPValue& v, uint16_t* referencedId) {
    using namespace mpprop_detail;
    if (referencedId) *referencedId = kNoMultiplayerId;
    switch (p.kind) {
    case MPPROPTYPE_INT: {
        const int32_t c = v.i < p.intMin ? p.intMin : v.i > p.intMax ? p.intMax : v.i;
        return uint64_t(int64_t(c) - int64_t(p.intMin));
    }
    case MPPROPTYPE_FLOAT: {
        const float c = !(v.f >= p.floatMin) ? p.floatMin : v.f > p.floatMax ? p.floatMax : v.f;
        const uint32_t q = Round((c - p.floatMin) / p.floatStep);
        const uint32_t top = (uint32_t(1) << p.bits) - 1;
        return q > top ? top : q;
    }
    case MPPROPTYPE_FLOAT_POSY: return Inside(v.f, gBox[1]) ? BoxQ(v.f, gBox[1]) : EncodeOutsideBox(p, v);
    case MPPROPTYPE_VEC_ANGLEY: return Round(Quotient(MPPropWrapAngle(v.v.y) * 1023.0f, kInv360));
    case MPPROPTYPE_VEC_POS:
        if (!Inside(v.v.x, gBox[0]) || !Inside(v.v.y, gBox[1]) || !Inside(v.v.z, gBox[2])) return EncodeOutsideBox(p, v);
        return BoxQ(v.v.x, gBox[0]) | BoxQ(v.v.z, gBox[2]) << 16 | BoxQ(v.v.y, gBox[1]) << 32;
    case MPPROPTYPE_VEC_POSXZ:
        if (!Inside(v.v.x, gBox[0]) || !Inside(v.v.z, gBox[2])) return EncodeOutsideBox(p, v);
        return BoxQ(v.v.x, gBox[0]) | BoxQ(v.v.z, gBox[2]) << 16;
    case MPPROPTYPE_BOOL: return v.b & 1;
    default: return EncodeOther(p, v, referencedId);
    }
}

inline void MPPropDecode(const MPProperty& p, uint64_t q, MPValue& out) {
    using namespace mpprop_detail;
    switch (p.kind) {
    case MPPROPTYPE_INT: out.i = int32_t(int64_t(p.intMin) + int64_t(q)); return;
    case MPPROPTYPE_FLOAT: out.f = float(q) * p.floatStep + p.floatMin; return;
    case MPPROPTYPE_FLOAT_POSY: out.f = BoxDecode(q, gBox[1]); return;
    case MPPROPTYPE_VEC_ANGLEY: out.v = Vector(0.0f, Quotient(float(q & 1023) * 360.0f, kInv1023), 0.0f, 1.0f); return;
    case MPPROPTYPE_VEC_POS: out.v = Vector(BoxDecode(q, gBox[0]), BoxDecode(q >> 32, gBox[1]), BoxDecode(q >> 16, gBox[2]), 1.0f); return;
    case MPPROPTYPE_VEC_POSXZ: out.v = Vector(BoxDecode(q, gBox[0]), 0.0f, BoxDecode(q >> 16, gBox[2]), 1.0f); return;
    case MPPROPTYPE_BOOL: out.b = uint8_t(q & 1); return;
    default: DecodeOther(p, q, out); return;
    }
}

class MPPropertyContainer {
public:
    explicit MPPropertyContainer(Entity* owner);
    MPPropertyContainer(const MPPropertyContainer&) = delete;
    MPPropertyContainer& operator=(const MPPropertyContainer&) = delete;

    uint32_t Count() const { return static_cast<uint32_t>(properties.size()); }
    MPProperty* Get(uint32_t index) { return index < properties.size() ? &properties[index] : nullptr; }
    // A new property with its initial value applied at once; kMPRefused (and one error
    // line) beyond 64 properties, 256 packed bytes or 2,047 field bits.
    uint32_t Add(uint32_t kind, uint32_t flags, const MPValue& initial, const char* name);
    // The same for a property whose range, step and bits the caller set.
    uint32_t AddProperty(MPProperty& p, const MPValue& initial);
    uint8_t AnimIndex() const { return animIndex; }
    uint8_t ProgressIndex() const { return progressIndex; }
    void SetAnimIndex(uint32_t i) { animIndex = static_cast<uint8_t>(i); }
    void SetProgressIndex(uint32_t i) { progressIndex = static_cast<uint8_t>(i); }
    bool InCallback() const { return inCallback != 0; }

    // A set; true when it changed the value.
    bool Set(uint32_t index, MPValue value, uint8_t setFlag);
    // Authority: every property's value into the buffer; snap and owner-relevant masks.
    void Serialize(MPFieldBuffer& out, uint64_t& snapMask, uint64_t& ownerRelevantMask) const;
    // Receiver: the record's present fields as snapshots (applied at once on create);
    // false (nothing changed, one warning) for masks naming missing properties or fields
    // beyond the record's bits.
    bool Deserialize(const MPFieldBuffer& in, uint64_t dirtyMask, uint64_t snapMask, uint64_t time, bool create);
    // Authority: the waiting sets of the mask become current at time.
    void ApplyReceived(uint64_t mask, uint64_t time, uint64_t previousTime);
    // One display step at time t; true while some property has pending work.
    bool Tick(uint64_t t);

private:
    void ApplyNow(MPProperty& p, const MPValue& value);
    void PushSnapshot(MPProperty& p, const MPValue& value);
    bool TickProperty(MPProperty& p, uint64_t t);
    Entity* owner;
    std::vector<MPProperty> properties;
    uint8_t animIndex = kNoMPProperty;
    uint8_t progressIndex = kNoMPProperty;
    uint8_t inCallback = 0;
    uint32_t packedBytes = 0;
    uint32_t packedBits = 0;
};
