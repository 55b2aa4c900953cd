// Multiplayer properties: quantised encodings, the set rule, the receiver's snapshots
// and the per-frame interpolation, extrapolation and correction blend.
//
// On the authority a set records the value as pending (applied at once unless a later
// frame set it, in which case the next multiplayer step applies it) and marks the
// property dirty; Serialize packs every property for the entity's record. On a proxy
// each received value becomes a timed snapshot; Tick shows the value between the two
// snapshots around the display time, extrapolates up to 0.2 s past the newest one and
// blends a correction in over 500 ms.
//
// Main thread only. Times are game-clock microseconds.
#include "engine/entity/MPProperty.h"

#include <algorithm>
#include <cmath>

#include "core/BitStream.h"
#include "core/Log.h"
#include "core/profiler/Profiler.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityManager.h"
#include "engine/services/GameServices.h"
#include "engine/services/GameClock.h"

using namespace mpprop_detail;

namespace {

Vector gBoxMin{-1.0f, -1.0f, -1.0f, 1.0f};
Vector gBoxMax{1.0f, 1.0f, 1.0f, 1.0f};
Player* gLocalPlayer = nullptr;
uint64_t gPreviousFrameTime = 0;
uint64_t gLatestFrameTime = 0;

constexpr float kSameFloat = 0.001f;
constexpr float kSameVector = 0.001f;
constexpr float kBlendPerMs = 0.002f;
constexpr double kInv255 = 1.0 / 255.0;

uint32_t Digits(uint64_t n) {
    uint32_t b = 0;
    while (n) {
        ++b;
        n >>= 1;
    }
    return b;
}

float ClampAxis(float c, const BoxAxis& a) {
    if (!(c >= a.min)) return a.min;  // NaN too
    if (c > a.max) return a.max;
    return c;
}

bool IsFloatKind(uint32_t k) { return k == MPPROPTYPE_FLOAT || k == MPPROPTYPE_FLOAT_POSY || k == MPPROPTYPE_FLOAT_ANIM_PROGRESS; }
bool IsVectorKind(uint32_t k) { return k >= MPPROPTYPE_VEC_ANGLEY && k <= MPPROPTYPE_VEC_POSXZ; }
bool IsAngleKind(uint32_t k) { return k == MPPROPTYPE_VEC_ANGLEY || k == MPPROPTYPE_VEC_ANGLEXY; }

float WeightedDistance2(const Vector& a, const Vector& b) {
    const float dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
    return dx * dx + dy * dy + dz * dz;
}

// Angles in the form the set test compares.
void NormaliseAngles(uint32_t kind, Vector& v) {
    if (kind == MPPROPTYPE_VEC_ANGLEY) {
        v = Vector(0.0f, MPPropWrapAngle(v.y), 0.0f, 1.0f);
    } else if (kind == MPPROPTYPE_VEC_ANGLEXY) {
        float x = v.x, y = v.y;
        if (std::fabs(MPPropWrapAngle(x) - 180.0f) < 0.1f) {
            x += 180.0f;
            y = 180.0f - y;
        }
        v = Vector(MPPropWrapAngle(x), MPPropWrapAngle(y), v.z, 1.0f);
    }
}

bool Same(uint32_t kind, const MPValue& a, const MPValue& b) {
    switch (kind) {
    case MPPROPTYPE_INT: return a.i == b.i;
    case MPPROPTYPE_BOOL: return (a.b & 1) == (b.b & 1);
    case MPPROPTYPE_ANIM: return a.animIndex == b.animIndex && a.animLoop == b.animLoop;
    case MPPROPTYPE_ENTITY: return a.entity.Get() == b.entity.Get();
    default: break;
    }
    if (IsFloatKind(kind)) return std::fabs(a.f - b.f) < kSameFloat;
    if (IsAngleKind(kind)) {
        Vector x = a.v, y = b.v;
        NormaliseAngles(kind, x);
        NormaliseAngles(kind, y);
        return WeightedDistance2(x, y) < kSameVector;
    }
    return WeightedDistance2(a.v, b.v) < kSameVector;
}

// The correction test of a received value against what extrapolation would show.
bool DiffersForCorrection(uint32_t kind, const MPValue& shown, const MPValue& got) {
    switch (kind) {
    case MPPROPTYPE_INT: return shown.i != got.i;
    case MPPROPTYPE_BOOL: return (shown.b & 1) != (got.b & 1);
    case MPPROPTYPE_ANIM:
    case MPPROPTYPE_ENTITY: return true;
    case MPPROPTYPE_VEC_SCALE: return WeightedDistance2(shown.v, got.v) >= 0.0001f;
    case MPPROPTYPE_VEC_POS:
    case MPPROPTYPE_VEC_POSXZ:
        return std::fabs(shown.v.x - got.v.x) >= 1.0f || std::fabs(shown.v.y - got.v.y) >= 1.0f || std::fabs(shown.v.z - got.v.z) >= 1.0f;
    default: break;
    }
    if (IsFloatKind(kind)) return std::fabs(shown.f - got.f) >= 0.01f;
    const auto angle = [](float a, float b) {
        const float d = std::fabs(MPPropWrapAngle(a) - MPPropWrapAngle(b));
        return (d > 180.0f ? 360.0f - d : d) >= 0.01f;
    };
    return angle(shown.v.x, got.v.x) || angle(shown.v.y, got.v.y);
}

float LerpAngle(float a, float b, float f) {
    float d = b - a;
    if (d < -180.0f) d += 360.0f;
    if (d > 180.0f) d -= 360.0f;
    return MPPropWrapAngle(a + d * f);
}

// The value between a and b at fraction f (the caller decided that the kind moves).
void Lerp(const MPProperty& p, const MPValue& a, const MPValue& b, float f, bool progressCyclic, MPValue& out) {
    switch (p.kind) {
    case MPPROPTYPE_INT: out.i = int32_t(std::floor(float(a.i) + float(b.i - a.i) * f + 0.5f)); return;
    case MPPROPTYPE_FLOAT:
    case MPPROPTYPE_FLOAT_POSY: out.f = a.f + (b.f - a.f) * f; return;
    case MPPROPTYPE_FLOAT_ANIM_PROGRESS: {
        float d = b.f - a.f;
        if (progressCyclic && d < -0.5f) d += 1.0f;
        float v = a.f + d * f;
        if (progressCyclic && v >= 1.0f) v -= 1.0f;
        out.f = v;
        return;
    }
    case MPPROPTYPE_VEC_ANGLEY:
    case MPPROPTYPE_VEC_ANGLEXY:
        out.v = Vector(LerpAngle(a.v.x, b.v.x, f), LerpAngle(a.v.y, b.v.y, f), 0.0f, 1.0f);
        if (p.kind == MPPROPTYPE_VEC_ANGLEY) out.v.x = 0.0f;
        return;
    default: break;
    }
    if (IsVectorKind(p.kind)) {
        out.v = Vector(a.v.x + (b.v.x - a.v.x) * f, a.v.y + (b.v.y - a.v.y) * f, a.v.z + (b.v.z - a.v.z) * f, 1.0f);
        return;
    }
    out = f >= 1.0f ? b : a;  // steps
}

void CopyShown(MPValue& to, const MPValue& from) {
    to.i = from.i;
    to.f = from.f;
    to.b = from.b;
    to.v = from.v;
    to.animProgress = from.animProgress;
    to.animIndex = from.animIndex;
    to.animLoop = from.animLoop;
    to.entity = from.entity.Get();
}

}  // namespace

float mpprop_detail::WrapAngleFar(float a) {
    if (!std::isfinite(a)) return 0.0f;
    float w = std::fmod(std::fmod(a, 360.0f) + 360.0f, 360.0f);
    if (w >= 360.0f) w = 0.0f;
    return w;
}

uint32_t MPPropIntBits(int32_t min, int32_t& max) {
    const int64_t n = int64_t(max) - int64_t(min) + 1;
    uint32_t b = n > 0 ? Digits(uint64_t(n)) : 1;
    if (b < 1) b = 1;
    if (b > 24) b = 24;
    max = int32_t(int64_t(min) + (int64_t(1) << b) - 1);
    return b;
}

uint32_t MPPropFloatBits(float min, float max, float& step) {
    const float span = max - min;
    const float count = step > 0.0f ? span / step : 0.0f;
    const uint64_t n = (count > 0.0f && count < 16777216.0f) ? uint64_t(count) + 1 : (count >= 16777216.0f ? (uint64_t(1) << 24) : 1);
    uint32_t b = Digits(n);
    if (b < 1) b = 1;
    if (b > 24) b = 24;
    step = span / float((uint32_t(1) << b) - 1);
    return b;
}

uint32_t MPPropKindBits(uint32_t kind) {
    switch (kind) {
    case MPPROPTYPE_FLOAT_POSY: return 16;
    case MPPROPTYPE_FLOAT_ANIM_PROGRESS: return 8;
    case MPPROPTYPE_VEC_ANGLEY: return 10;
    case MPPROPTYPE_VEC_ANGLEXY: return 16;
    case MPPROPTYPE_VEC_SCALE:
    case MPPROPTYPE_VEC_POS: return 48;
    case MPPROPTYPE_VEC_POSXZ: return 32;
    case MPPROPTYPE_BOOL: return 1;
    case MPPROPTYPE_ANIM: return 16;
    case MPPROPTYPE_ENTITY: return 12;
    default: return 0;
    }
}

BoxAxis mpprop_detail::gBox[3] = {{-1.0f, 1.0f, 2.0f, 0.5}, {-1.0f, 1.0f, 2.0f, 0.5}, {-1.0f, 1.0f, 2.0f, 0.5}};

void SetMPReplicationBox(const Vector& min, const Vector& max) {
    gBoxMin = min;
    gBoxMax = max;
    for (int a = 0; a < 3; ++a) {
        BoxAxis& b = gBox[a];
        b.min = min[a];
        b.max = max[a];
        b.span = b.max - b.min;
        b.invSpan = 1.0 / double(b.span);
    }
}
void GetMPReplicationBox(Vector* min, Vector* max) {
    if (min) *min = gBoxMin;
    if (max) *max = gBoxMax;
}
void SetMPLocalPlayer(Player* player) { gLocalPlayer = player; }
Player* GetMPLocalPlayer() { return gLocalPlayer; }
void SetMPHostFrameTimes(uint64_t previous, uint64_t latest) {
    gPreviousFrameTime = previous;
    gLatestFrameTime = latest;
}

uint64_t mpprop_detail::EncodeOutsideBox(const MPProperty& p, const MPValue& v) {
    switch (p.kind) {
    case MPPROPTYPE_FLOAT_POSY:
        gLog.Warning(LogCategory::Multiplayer, "Vector posY out of bounds: %f", double(v.f));
        return BoxQ(ClampAxis(v.f, gBox[1]), gBox[1]);
    case MPPROPTYPE_VEC_POS:
        gLog.Warning(LogCategory::Multiplayer, "Vector posXYZ out of bounds: %f %f %f", double(v.v.x), double(v.v.y), double(v.v.z));
        return BoxQ(ClampAxis(v.v.x, gBox[0]), gBox[0]) | BoxQ(ClampAxis(v.v.z, gBox[2]), gBox[2]) << 16 |
               BoxQ(ClampAxis(v.v.y, gBox[1]), gBox[1]) << 32;
    case MPPROPTYPE_VEC_POSXZ:
        gLog.Warning(LogCategory::Multiplayer, "Vector posXZ out of bounds: %f %f", double(v.v.x), double(v.v.z));
        gLog.Warning(LogCategory::Multiplayer, "Box: %f %f %f - %f %f %f", double(gBoxMin.x), double(gBoxMin.y), double(gBoxMin.z),
                     double(gBoxMax.x), double(gBoxMax.y), double(gBoxMax.z));
        return BoxQ(ClampAxis(v.v.x, gBox[0]), gBox[0]) | BoxQ(ClampAxis(v.v.z, gBox[2]), gBox[2]) << 16;
    default: return 0;
    }
}

uint64_t mpprop_detail::EncodeOther(const MPProperty& p, const MPValue& v, uint16_t* referencedId) {
    switch (p.kind) {
    case MPPROPTYPE_FLOAT_ANIM_PROGRESS: {
        const uint32_t q = Round(v.f * 255.0f);
        return q > 255 ? 255 : q;
    }
    case MPPROPTYPE_VEC_ANGLEXY:
        return Round(Quotient(MPPropWrapAngle(v.v.x) * 255.0f, kInv360)) | (uint64_t(Round(Quotient(MPPropWrapAngle(v.v.y) * 255.0f, kInv360))) << 8);
    case MPPROPTYPE_VEC_SCALE: {
        if (v.v.x > 200.0f || v.v.y > 200.0f || v.v.z > 200.0f)
            gLog.Warning(LogCategory::Multiplayer, "Scale vec out of bounds: %f %f %f", double(v.v.x), double(v.v.y), double(v.v.z));
        const auto q = [](float c) -> uint64_t {
            c = !(c >= 0.0f) ? 0.0f : c > 200.0f ? 200.0f : c;
            const uint32_t r = Round(c * 65535.0f / 200.0f);
            return r > 65535 ? 65535 : r;
        };
        return q(v.v.x) | q(v.v.y) << 16 | q(v.v.z) << 32;
    }
    case MPPROPTYPE_ANIM: {
        // An index that seven bits cannot carry goes as none (127) rather than as another
        // animation; progress past the end stays at the end instead of wrapping.
        const uint32_t index = v.animIndex < 127 ? v.animIndex : 127;
        const uint32_t progress = Round(v.animProgress * 255.0f);
        return uint64_t(index | (v.animLoop ? 0x80 : 0)) | uint64_t(progress > 255 ? 255 : progress) << 8;
    }
    case MPPROPTYPE_ENTITY: {
        const Entity* e = v.entity.Get();
        const uint16_t id = e && e->GetMultiplayerId() < kNoMultiplayerId ? e->GetMultiplayerId() : kNoMultiplayerId;
        if (referencedId) *referencedId = id;
        return id;
    }
    default: return 0;
    }
}

void mpprop_detail::DecodeOther(const MPProperty& p, uint64_t q, MPValue& out) {
    switch (p.kind) {
    case MPPROPTYPE_FLOAT_ANIM_PROGRESS: out.f = float(q & 255) / 255.0f; return;
    case MPPROPTYPE_VEC_ANGLEXY:
        out.v = Vector(Quotient(float(q & 255) * 360.0f, kInv255), Quotient(float((q >> 8) & 255) * 360.0f, kInv255), 0.0f, 1.0f);
        return;
    case MPPROPTYPE_VEC_SCALE:
        out.v = Vector(float(q & 0xFFFF) * 200.0f / 65535.0f, float((q >> 16) & 0xFFFF) * 200.0f / 65535.0f,
                       float((q >> 32) & 0xFFFF) * 200.0f / 65535.0f, 1.0f);
        return;
    case MPPROPTYPE_ANIM: {
        const uint8_t b0 = uint8_t(q & 255);
        out.animIndex = (b0 == 127 || b0 == 255) ? kNoMPProperty : uint8_t(b0 & 127);
        out.animLoop = (b0 & 0x80) ? 1 : 0;
        out.animProgress = float((q >> 8) & 255) / 255.0f;
        return;
    }
    case MPPROPTYPE_ENTITY: {
        const uint32_t id = uint32_t(q & 0xFFF);
        Entity* e = nullptr;
        if (id < kNoMultiplayerId && gEntityManager) {
            e = gEntityManager->GetEntityByMID(id);
            if (!e) gLog.Warning(LogCategory::Multiplayer, "Deserialize: can't find entity mid:%d", int(id));
        }
        out.entity = e;
        return;
    }
    default: return;
    }
}

// ---------------------------------------------------------------------------------
// The container

MPPropertyContainer::MPPropertyContainer(Entity* e) : owner(e) { properties.reserve(2); }

uint32_t MPPropertyContainer::Add(uint32_t kind, uint32_t flags, const MPValue& initial, const char* name) {
    MPProperty p;
    p.kind = kind;
    p.flags = flags;
    p.name = name ? name : "";
    if (kind == MPPROPTYPE_INT) {
        p.bits = MPPropIntBits(p.intMin, p.intMax);
    } else if (kind == MPPROPTYPE_FLOAT) {
        p.bits = MPPropFloatBits(p.floatMin, p.floatMax, p.floatStep);
    } else {
        p.bits = MPPropKindBits(kind);
    }
    return AddProperty(p, initial);
}

uint32_t MPPropertyContainer::AddProperty(MPProperty& p, const MPValue& initial) {
    const uint32_t bytes = (p.bits + 7) / 8;
    if (p.kind == MPPROPTYPE_UNKNOWN || p.kind >= MPPROPTYPE_COUNT || properties.size() >= kMaxMPProperties ||
        packedBytes + bytes > kMPFieldBufferBytes || packedBits + p.bits > kMaxMPFieldBits) {
        gLog.Error(LogCategory::Multiplayer, "MPPropAdd - property %s of %s refused: kind %u, %u properties, %u bytes, %u bits", p.name,
                   owner ? owner->GetName() : "", unsigned(p.kind), unsigned(properties.size()), unsigned(packedBytes), unsigned(packedBits));
        return kMPRefused;
    }
    if (properties.size() == properties.capacity()) properties.reserve(properties.size() * 2);
    packedBytes += bytes;
    packedBits += p.bits;
    properties.push_back(p);
    MPProperty& added = properties.back();
    added.pending = initial;
    added.pending.time = gGameClock ? uint64_t(gGameClock->GetCurrentTime()) : 0;
    ApplyNow(added, added.pending);
    return uint32_t(properties.size() - 1);
}

void MPPropertyContainer::ApplyNow(MPProperty& p, const MPValue& value) {
    p.current = value;
    p.snapshots[0] = value;
    p.snapshotCount = 1;
    p.changed = 1;
    p.state |= MPPROPSTATE_APPLIED | MPPROPSTATE_PENDING;
    p.lastAppliedTime = value.time;
}

bool MPPropertyContainer::Set(uint32_t index, MPValue value, uint8_t setFlag) {
    if (index >= properties.size()) return false;
    MPProperty& p = properties[index];
    if (IsAngleKind(p.kind)) NormaliseAngles(p.kind, value.v);
    if (Same(p.kind, p.pending, value)) return false;
    const uint64_t now = gGameClock ? uint64_t(gGameClock->GetCurrentTime()) : 0;
    value.time = now;
    value.setFlag = setFlag;
    p.pending = value;
    p.state |= MPPROPSTATE_PENDING;
    bool waits = false;
    // Only an authority's later sets wait for the multiplayer step; a proxy's own values
    // (the client-owned ones) show at once.
    if (now <= p.lastAppliedTime || owner->GetMultiplayerRole() == MPROLE_PROXY) {
        ApplyNow(p, p.pending);
    } else {
        // A set in a later frame: the next multiplayer step applies it.
        waits = true;
        owner->SetReceivedChangeMask(owner->GetReceivedChangeMask() | (uint64_t(1) << index));
    }
    owner->MPPropMarkDirty(index);
    GetGameServices().RegisterReplicatedEntity(owner, waits);
    return true;
}

void MPPropertyContainer::Serialize(MPFieldBuffer& out, uint64_t& snapMask, uint64_t& ownerRelevantMask) const {
    out.Clear();
    ownerRelevantMask = ~uint64_t(0);
    const bool ownedHere = owner && owner->GetPlayerOwner() == gLocalPlayer && gLocalPlayer;
    for (uint32_t i = 0; i < properties.size(); ++i) {
        const MPProperty& p = properties[i];
        uint16_t ref = kNoMultiplayerId;
        const uint64_t q = MPPropEncode(p, p.pending, &ref);
        out.Append(q, p.bits, ref);
        if (p.pending.setFlag) snapMask |= uint64_t(1) << i;
        if (!ownedHere && (p.flags & MPPROPFLAG_OWNEDBYCLIENT)) ownerRelevantMask &= ~(uint64_t(1) << i);
    }
}

void MPPropertyContainer::PushSnapshot(MPProperty& p, const MPValue& value) {
    for (uint32_t k = kMPSnapshots - 1; k > 0; --k) p.snapshots[k] = p.snapshots[k - 1];
    p.snapshots[0] = value;
    if (p.snapshotCount < kMPSnapshots) ++p.snapshotCount;
}

bool MPPropertyContainer::Deserialize(const MPFieldBuffer& in, uint64_t dirtyMask, uint64_t snapMask, uint64_t time, bool create) {
    // The whole record is checked before anything changes.
    uint32_t need = 0;
    for (uint32_t i = 0; i < kMaxMPProperties; ++i) {
        if (!(dirtyMask & (uint64_t(1) << i))) continue;
        if (i >= properties.size()) {
            gLog.Warning(LogCategory::Multiplayer, "Deserialize: %s has no property %u, record dropped", owner ? owner->GetName() : "", unsigned(i));
            return false;
        }
        need += properties[i].bits;
    }
    if (need > in.totalBits) {
        gLog.Warning(LogCategory::Multiplayer, "Deserialize: %s fields need %u bits, the record has %u, record dropped", owner ? owner->GetName() : "",
                     unsigned(need), unsigned(in.totalBits));
        return false;
    }
    BitReader reader(in.data, in.totalBits, 0, kMPFieldBufferBytes);
    const bool ownedHere = owner && owner->GetPlayerOwner() == gLocalPlayer && gLocalPlayer;
    const uint64_t frameNow = gGameClock ? uint64_t(gGameClock->GetCurrentTime()) : 0;
    bool any = false;
    for (uint32_t i = 0; i < properties.size(); ++i) {
        if (!(dirtyMask & (uint64_t(1) << i))) continue;
        MPProperty& p = properties[i];
        uint64_t q = 0;
        reader.ReadValue(q, p.bits);
        MPValue v;
        MPPropDecode(p, q, v);
        v.time = time;
        v.setFlag = (snapMask >> i) & 1;
        any = true;
        p.state |= MPPROPSTATE_RECEIVED;
        // The owner's own values are its own.
        if (!create && ownedHere && (p.flags & MPPROPFLAG_OWNEDBYCLIENT)) continue;
        if (create) {
            ApplyNow(p, v);
            continue;
        }
        if ((p.state & MPPROPSTATE_EXTRAPOLATING) && DiffersForCorrection(p.kind, p.current, v)) {
            CopyShown(p.blendFrom, p.current);
            p.blendStart = frameNow ? frameNow : 1;
            p.state &= uint8_t(~MPPROPSTATE_EXTRAPOLATING);
        }
        // Snapshots stay in time order: a record that arrives late (its packet's time
        // before the newest snapshot's, as after a stall) takes the newest time.
        if (v.time < p.snapshots[0].time) v.time = p.snapshots[0].time;
        // The old value holds until the previous complete host frame.
        if (p.snapshots[0].time < gPreviousFrameTime && gPreviousFrameTime < v.time) {
            MPValue hold = p.snapshots[0];
            hold.time = gPreviousFrameTime;
            PushSnapshot(p, hold);
        }
        PushSnapshot(p, v);
        p.state |= MPPROPSTATE_PENDING;
    }
    return any;
}

void MPPropertyContainer::ApplyReceived(uint64_t mask, uint64_t time, uint64_t previousTime) {
    for (uint32_t i = 0; i < properties.size(); ++i) {
        if (!(mask & (uint64_t(1) << i))) continue;
        MPProperty& p = properties[i];
        MPValue v = p.pending;
        v.time = time;
        ApplyNow(p, v);
    }
}

bool MPPropertyContainer::TickProperty(MPProperty& p, uint64_t t) {
    const uint32_t n = p.snapshotCount ? p.snapshotCount : 1;
    p.state &= uint8_t(~MPPROPSTATE_EXTRAPOLATING);
    // 1. The pair around t (snapshots newest first).
    int newer = -1;
    for (int k = int(n) - 1; k >= 0; --k)
        if (p.snapshots[k].time >= t) {
            newer = k;
            break;
        }
    const MPValue* a = nullptr;
    const MPValue* b = nullptr;
    float f = 0.0f;
    const bool lerp = !(p.flags & MPPROPFLAG_DISABLELERP);
    if (newer < 0 && lerp && (p.state & MPPROPSTATE_RECEIVED) && (p.state & MPPROPSTATE_PENDING) && n >= 2 &&
        p.snapshots[0].time == gLatestFrameTime) {
        a = &p.snapshots[1];
        b = &p.snapshots[0];
        const uint64_t limit = b->time + kMPExtrapolationLimitUs;
        const int64_t span = int64_t(b->time) - int64_t(a->time);
        f = span > 0 ? float(double(int64_t(t < limit ? t : limit) - int64_t(a->time)) / double(span)) : 1.0f;
        p.state |= MPPROPSTATE_EXTRAPOLATING;
    } else {
        if (newer < 0) newer = 0;
        b = &p.snapshots[newer];
        a = newer + 1 < int(n) ? &p.snapshots[newer + 1] : &p.snapshots[newer];
        const int64_t span = int64_t(b->time) - int64_t(a->time);
        f = span > 0 ? float(double(int64_t(t) - int64_t(a->time)) / double(span)) : 0.0f;
        if (span <= 0 && t >= b->time) f = 1.0f;  // the newer of two at one time
    }
    // 2. Interpolate.
    MPValue shown;
    CopyShown(shown, p.current);
    const MPValue before = shown;
    const bool steps = !lerp || b->setFlag || p.kind == MPPROPTYPE_BOOL || p.kind == MPPROPTYPE_ANIM || p.kind == MPPROPTYPE_ENTITY;
    if (steps) {
        CopyShown(shown, f >= 1.0f && !(p.state & MPPROPSTATE_EXTRAPOLATING) ? *b : *a);
    } else if (f >= 1.0f && !(p.state & MPPROPSTATE_EXTRAPOLATING)) {
        CopyShown(shown, *b);
    } else {
        bool cyclic = false, frozen = false;
        if (p.kind == MPPROPTYPE_FLOAT_ANIM_PROGRESS && animIndex != kNoMPProperty) {
            const MPProperty& anim = properties[animIndex];
            cyclic = anim.current.animLoop != 0;
            frozen = (anim.state & MPPROPSTATE_ANIM_CHANGED) != 0;
        }
        if (frozen)
            CopyShown(shown, *b);
        else
            Lerp(p, *a, *b, f < 0.0f ? 0.0f : f, cyclic, shown);
    }
    bool changed = !Same(p.kind, before, shown);
    if (p.kind == MPPROPTYPE_ANIM) {
        p.state = uint8_t((p.state & ~(MPPROPSTATE_ANIM_LOOPING | MPPROPSTATE_ANIM_CHANGED)) | (shown.animLoop ? MPPROPSTATE_ANIM_LOOPING : 0) |
                          (shown.animIndex != before.animIndex ? MPPROPSTATE_ANIM_CHANGED : 0));
        changed = changed || std::fabs(shown.animProgress - before.animProgress) > kSameFloat;
    }
    // 3. A correction blends in.
    if (p.blendStart) {
        const uint64_t now = gGameClock ? uint64_t(gGameClock->GetCurrentTime()) : t;
        const float alpha = float(double(now > p.blendStart ? now - p.blendStart : 0) / 1000.0) * kBlendPerMs;
        if (alpha >= 1.0f) {
            p.blendStart = 0;
            changed = true;
        } else {
            MPValue blended;
            CopyShown(blended, shown);
            Lerp(p, p.blendFrom, shown, alpha, false, blended);
            CopyShown(shown, blended);
            changed = true;
        }
    }
    CopyShown(p.current, shown);
    // 4. A value applied directly counts as a change once; a client-owned property of the
    // local player that also came in from the network is never reported as changed.
    if (p.state & MPPROPSTATE_APPLIED) {
        changed = true;
        p.state &= uint8_t(~MPPROPSTATE_APPLIED);
    }
    if ((p.flags & MPPROPFLAG_OWNEDBYCLIENT) && (p.state & MPPROPSTATE_RECEIVED) && owner->GetPlayerOwner() == gLocalPlayer && gLocalPlayer)
        changed = false;
    p.changed = changed ? 1 : 0;
    // 5. Settled: nothing newer than t still differs from what came before it.
    if (!(p.state & MPPROPSTATE_EXTRAPOLATING) && !p.blendStart) {
        bool moving = false;
        for (uint32_t k = 0; k + 1 < n && p.snapshots[k].time >= t; ++k)
            if (!Same(p.kind, p.snapshots[k], p.snapshots[k + 1])) {
                moving = true;
                break;
            }
        if (!moving) p.state &= uint8_t(~MPPROPSTATE_PENDING);
    }
    return changed;
}

bool MPPropertyContainer::Tick(uint64_t t) {
    bool anyChanged = false, location = false, callback = false;
    for (uint32_t i = 0; i < properties.size(); ++i) {
        MPProperty& p = properties[i];
        if (!(p.state & MPPROPSTATE_PENDING) && !(p.state & MPPROPSTATE_APPLIED)) continue;
        if (!TickProperty(p, t)) continue;
        anyChanged = true;
        if (i <= 2) location = true;
        if (p.flags & MPPROPFLAG_CALLBACK) callback = true;
    }
    if (anyChanged) {
        SafePointer<Entity> alive(owner);
        if (location) owner->MPPropApplyLocation();
        // The animation state goes to a proxy's mesh only: on the authority the properties
        // are a copy of its mesh's own animation, which taking the copy back would restart
        // from a frame-old state.
        const bool proxy = owner->GetMultiplayerRole() == MPROLE_PROXY;
        if (proxy && animIndex != kNoMPProperty && properties[animIndex].changed && alive.Get()) owner->OnReplicatedAnim(animIndex);
        if (proxy && progressIndex != kNoMPProperty && properties[progressIndex].changed && alive.Get())
            owner->OnReplicatedAnimProgress(progressIndex);
        if (callback && alive.Get() && !(owner->GetFlags() & ENTITYFLAG_DISABLE_UPDATE)) {
            inCallback = 1;
            gProfiler.StartTimer(PROFILE_TEST_K, PROFILER_THREAD_MAIN);
            GetGameServices().OnReplicatedProperty(owner);
            gProfiler.StopTimer(PROFILE_TEST_K, PROFILER_THREAD_MAIN);
            inCallback = 0;
        }
        if (!alive.Get()) return false;
    }
    bool pending = false;
    for (MPProperty& p : properties) {
        p.changed = 0;
        if (p.state & MPPROPSTATE_PENDING) pending = true;
    }
    return pending;
}
