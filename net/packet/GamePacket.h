#pragma once
// The game packet: a 26-byte little-endian header and five bit-packed sections
// (dictionary entries, entity records, acknowledgements, method calls, texts), each
// directly behind the previous one without padding, the whole at most 1,200 bytes.
//
// Writing: each section collects its items in a buffer of its own (begin section, write
// bits, end section); a write that would take the whole packet past 1,200 bytes is
// refused and sets the overflow flag. Save and Restore roll every section (and the
// packet's sent-entity list) back to the last save, so a writer can try an item and
// fall over to a fresh packet. Build lays out the header and the sections. The packet
// keeps its total bit count as it goes, and a section's rollback point is taken when it
// is first begun after a save, so a save, a write and the fit test cost the same however
// many sections there are.
//
// Reading: Parse loads the header and points one bounded reader at bit 208; the reader
// then walks the sections in order by their counts. Every read is checked against the
// received length.
//
// Network thread only. The object is large (six 1,200-byte buffers): one lives in each
// engine, never on a small stack.
#include <cstdint>
#include <vector>

#include "core/BitStream.h"
#include "net/base/NetConstants.h"

struct MPMethodCall;

// One entity record a packet carried: the entity's version then and its id.
struct SentEntity {
    uint32_t version = 0;
    uint16_t multiplayerId = 0;
};

// Per peer, a ring of the last 100 packets sent.
struct PacketHistoryEntry {
    uint16_t packetId = 0;
    std::vector<SentEntity> entities;
};

struct PacketSection {
    uint8_t bits[kMaxPacketBytes + BitWriter::kSlackBytes] = {};
    BitWriter writer;
    uint32_t itemCount = 0;
    uint32_t savedBitCursor = 0;  // valid while the section's bit is in sectionsSinceSave
    uint32_t savedItemCount = 0;
};

class GamePacket {
public:
    GamePacket();
    GamePacket(const GamePacket&) = delete;
    GamePacket& operator=(const GamePacket&) = delete;

    // All sections empty, overflow clear, no current section; the header fields stay.
    void Reset();

    // ---- Writing ----
    void BeginSection(uint32_t section) {
        currentSection = section < kPacketSectionCount ? section : kNoSection;
        if (currentSection == kNoSection) return;
        if (!(sectionsSinceSave & (1u << currentSection))) TakeRollbackPoint(currentSection);
        ++sections[currentSection].itemCount;
    }
    bool WriteValue(uint64_t value, uint32_t bits) {
        if (!Fits(bits) || !sections[currentSection].writer.WriteValue(value, bits)) return false;
        totalBits += bits;
        return true;
    }
    bool WriteBits(const void* source, uint32_t bits) {
        if (!Fits(bits) || !sections[currentSection].writer.WriteBits(source, bits)) return false;
        totalBits += bits;
        return true;
    }
    // A whole item in words (BitWriter::WriteWords): one fit test for all of it, so an
    // item that does not fit leaves nothing behind.
    bool WriteWords(const uint64_t* words, uint32_t bits) {
        if (!Fits(bits) || !sections[currentSection].writer.WriteWords(words, bits)) return false;
        totalBits += bits;
        return true;
    }
    void EndSection() { currentSection = kNoSection; }
    void Save() {
        sectionsSinceSave = 0;
        if (currentSection != kNoSection) TakeRollbackPoint(currentSection);  // writes may go on without a begin
        savedTotalBits = totalBits;
        savedSentCount = sentEntities ? static_cast<uint32_t>(sentEntities->entities.size()) : 0;
    }
    void Restore();
    bool Overflowed() const { return overflow != 0; }
    uint32_t SectionBits(uint32_t section) const { return sections[section].writer.BitCount(); }
    uint32_t ItemCount(uint32_t section) const { return sections[section].itemCount; }
    uint32_t TotalBits() const { return totalBits; }
    // The header and the sections into out (at least kMaxPacketBytes +
    // BitWriter::kSlackBytes bytes); the byte length.
    uint32_t Build(uint8_t* out) const;
    // The list the entity writers append to (null: none kept).
    void BindSentEntities(PacketHistoryEntry* entry);
    PacketHistoryEntry* SentEntities() const { return sentEntities; }
    // Nothing written but the header.
    bool Empty() const { return totalBits == kPacketHeaderBits; }

    // ---- Reading ----
    // False for fewer than 26 bytes. A datagram longer than a packet is read bounded by
    // its own length (the counts decide what is read).
    bool Parse(const uint8_t* data, uint32_t length);
    BitReader& Reader() { return reader; }
    uint32_t ReceivedCount(uint32_t section) const { return receivedCounts[section]; }

    // ---- Header ----
    uint64_t frameTime = 0;  // microseconds; travels in units of 10 ms
    uint32_t ackedReliable = 0;
    uint32_t ackedText = 0;
    uint16_t packetId = 0;
    uint8_t packetCount = 0;

private:
    // False, setting the overflow flag, when no section is open or bits more would take
    // the packet past its size.
    bool Fits(uint32_t bits) {
        if (overflow || currentSection == kNoSection || bits > kMaxPacketBits - totalBits) {
            overflow = 1;
            return false;
        }
        return true;
    }

    void TakeRollbackPoint(uint32_t section) {
        sectionsSinceSave |= 1u << section;
        sections[section].savedBitCursor = sections[section].writer.BitCount();
        sections[section].savedItemCount = sections[section].itemCount;
    }

    PacketSection sections[kPacketSectionCount];
    PacketHistoryEntry* sentEntities = nullptr;
    uint32_t totalBits = kPacketHeaderBits;  // the header and every section
    uint32_t savedTotalBits = kPacketHeaderBits;
    uint32_t sectionsSinceSave = 0;  // bit s: section s begun since the save (its rollback point taken)
    uint32_t savedSentCount = 0;
    uint32_t currentSection = kNoSection;
    uint8_t overflow = 0;
    BitReader reader;
    uint32_t receivedCounts[kPacketSectionCount] = {};
};

// ---- Section items (writers write into the current section; readers read at the
// packet reader and report false for an item that runs past the end or is invalid) ----

// Section 0: 8-bit slot, 16 GUID bytes.
bool WriteDictionaryItem(GamePacket& packet, uint8_t slot, const uint8_t guid[16]);
bool ReadDictionaryItem(BitReader& in, uint8_t& slot, uint8_t guid[16]);
// Section 2: a 16-bit packet id.
bool WriteAckItem(GamePacket& packet, uint16_t packetId);
bool ReadAckItem(BitReader& in, uint16_t& packetId);
// Section 3: 32-bit sequence and the call's packet form.
bool WriteCallItem(GamePacket& packet, uint32_t sequence, const MPMethodCall& call);
// Rebuilds the call through its Add*Arg operations; false for more than 8 arguments, a
// type above 5, more than 256 bytes of data or a read past the end. An entity id of
// 4095 or more becomes 4095 (none).
bool ReadCallItem(BitReader& in, uint32_t& sequence, MPMethodCall& call);
// Section 4: 32-bit sequence, 8-bit count, 8-bit wide flag, the units (16 bits when
// any unit is 255 or above, else their low bytes). count <= 255.
bool WriteTextItem(GamePacket& packet, uint32_t sequence, const char16_t* units, uint32_t count);
// Reads every unit the item holds and keeps the first kMaxChatUnits (terminated in
// units[kMaxChatUnits + 1]); count is the number kept.
bool ReadTextItem(BitReader& in, uint32_t& sequence, char16_t* units, uint32_t& count);

// The bit cost of a text item.
uint32_t TextItemBits(const char16_t* units, uint32_t count);
