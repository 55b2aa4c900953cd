// The entity record's wire form, section 1 of a game packet (least significant bit
// first):
//   12 id | 4 flags (low bits)
//   create:     8 dictionary slot | 8 creation counter | 12 parent id | 1 owned by receiver
//   properties: 8 byte mask M | 1 W | per set bit i of M, from bit 0: 8 dirty byte i
//               (+ 8 snap byte i when W) | 1 L | T in 7 bits (11 when L) | T field bits
// M has bit i set when byte i of the dirty mask is non-zero; W is set when some byte of
// the snap mask under M is non-zero; L when T is above 127. The fields are those of the
// dirty mask in property order, each at its own width. The reader clears both masks
// first, so bytes outside M read as 0.
#include "core/BitStream.h"
#include "core/Log.h"
#include "net/packet/GamePacket.h"
#include "net/replication/EntityReplicationState.h"

namespace {

constexpr uint32_t kShortLengthLimit = 127;

uint8_t ByteOf(uint64_t mask, uint32_t i) { return static_cast<uint8_t>(mask >> (8 * i)); }

uint32_t ByteMask(uint64_t mask) {
    uint32_t m = 0;
    for (uint32_t i = 0; i < 8; ++i)
        if (ByteOf(mask, i)) m |= 1u << i;
    return m;
}

bool SnapBytesUnder(uint64_t snap, uint32_t byteMask) {
    for (uint32_t i = 0; i < 8; ++i)
        if ((byteMask & (1u << i)) && ByteOf(snap, i)) return true;
    return false;
}

// Bits of the present fields of an appended buffer.
uint32_t PresentFieldBits(const EntityRecord& r) {
    uint32_t t = 0;
    for (uint32_t i = 0; i < r.fields.fieldCount; ++i)
        if (r.dirtyMask & (uint64_t(1) << i)) t += r.fields.bitLengths[i];
    return t;
}

}  // namespace

uint32_t EntityRecordWireBits(const EntityRecord& r) {
    uint32_t bits = 16;
    if (r.flags & ENTITYRECORD_CREATE) bits += 29;
    if (r.flags & ENTITYRECORD_PROPERTIES) {
        const uint32_t m = ByteMask(r.dirtyMask);
        const bool w = SnapBytesUnder(r.snapMask, m);
        bits += 9 + static_cast<uint32_t>(__builtin_popcount(m)) * (w ? 16 : 8);
        const uint32_t t = PresentFieldBits(r);
        bits += 1 + (t > kShortLengthLimit ? 11 : 7) + t;
    }
    return bits;
}

bool WriteEntityRecordWire(GamePacket& p, const EntityRecord& r) {
    if (!p.WriteValue(r.multiplayerId, 12) || !p.WriteValue(r.flags & ENTITYRECORD_WIRE_FLAGS, 4)) return false;
    if (r.flags & ENTITYRECORD_CREATE) {
        if (!p.WriteValue(r.dictionarySlot, 8) || !p.WriteValue(r.creationCounter, 8) || !p.WriteValue(r.parentId, 12) ||
            !p.WriteValue(r.ownedByReceiver ? 1 : 0, 1))
            return false;
    }
    if (!(r.flags & ENTITYRECORD_PROPERTIES)) return true;
    const uint32_t t = PresentFieldBits(r);
    if (t > kMaxMPFieldBits) {
        gLog.Error(LogCategory::Multiplayer, "EntityReplication - entity %u: %u field bits do not fit a record", unsigned(r.multiplayerId),
                   unsigned(t));
        return false;
    }
    const uint32_t m = ByteMask(r.dirtyMask);
    const bool w = SnapBytesUnder(r.snapMask, m);
    if (!p.WriteValue(m, 8) || !p.WriteValue(w ? 1 : 0, 1)) return false;
    for (uint32_t i = 0; i < 8; ++i) {
        if (!(m & (1u << i))) continue;
        if (!p.WriteValue(ByteOf(r.dirtyMask, i), 8)) return false;
        if (w && !p.WriteValue(ByteOf(r.snapMask, i), 8)) return false;
    }
    const bool longForm = t > kShortLengthLimit;
    if (!p.WriteValue(longForm ? 1 : 0, 1) || !p.WriteValue(t, longForm ? 11 : 7)) return false;
    uint32_t offset = 0;
    for (uint32_t i = 0; i < r.fields.fieldCount; ++i) {
        const uint32_t bits = r.fields.bitLengths[i];
        if ((r.dirtyMask & (uint64_t(1) << i)) && bits && !p.WriteBits(r.fields.data + offset, bits)) return false;
        offset += (bits + 7) / 8;
    }
    return true;
}

bool ReadEntityRecordWire(BitReader& in, EntityRecord& r) {
    // Everything but the field bytes, which the read overwrites up to T (readers of the
    // buffer are bounded by its totals).
    r.multiplayerId = kNoMultiplayerId;
    r.version = 0;
    r.flags = 0;
    r.localTime = 0;
    r.dictionarySlot = r.creationCounter = r.ownedByReceiver = 0;
    r.templateGuid.Clear();
    r.parentId = kNoMultiplayerId;
    r.ownerId = kNoOwnerId;
    r.dirtyMask = r.snapMask = 0;
    r.ownerRelevantMask = ~uint64_t(0);
    r.fields.Clear();
    if (!in.Read(r.multiplayerId, 12) || !in.Read(r.flags, 4)) return false;
    if (r.flags & ENTITYRECORD_CREATE) {
        if (!in.Read(r.dictionarySlot, 8) || !in.Read(r.creationCounter, 8) || !in.Read(r.parentId, 12) || !in.Read(r.ownedByReceiver, 1))
            return false;
    }
    if (!(r.flags & ENTITYRECORD_PROPERTIES)) return true;
    uint32_t m = 0, w = 0, l = 0, t = 0;
    if (!in.Read(m, 8) || !in.Read(w, 1)) return false;
    for (uint32_t i = 0; i < 8; ++i) {
        if (!(m & (1u << i))) continue;
        uint64_t b = 0;
        if (!in.ReadValue(b, 8)) return false;
        r.dirtyMask |= b << (8 * i);
        if (w) {
            if (!in.ReadValue(b, 8)) return false;
            r.snapMask |= b << (8 * i);
        }
    }
    if (!in.Read(l, 1) || !in.Read(t, l ? 11 : 7)) return false;
    if (t && !in.ReadBits(r.fields.data, t)) return false;
    r.fields.totalBits = t;
    r.fields.bytesUsed = (t + 7) / 8;
    return true;
}
