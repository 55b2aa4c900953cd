// The bit stream and the game packet's layout, against the independent writer and
// reader in tests/support/netbits.py, and the packet reader on hostile items.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "NetTestSupport.h"
#include "core/BitStream.h"
#include "net/TimeSync.h"
#include "net/packet/GamePacket.h"

namespace {

using nettest::FromHex;
using nettest::ToHex;

// ---------------------------------------------------------------------------------
// Bit stream

TEST(BitStream, ValuesOfEveryPacketWidthRoundTripAtEveryAlignment) {
    const uint32_t widths[] = {1, 3, 4, 8, 12, 16, 32, 64, 5, 63};
    uint8_t buffer[256 + BitWriter::kSlackBytes] = {};
    BitWriter w(buffer, 256 * 8);
    uint64_t seed = 12345;
    std::vector<std::pair<uint64_t, uint32_t>> written;
    for (int i = 0; i < 30; ++i) {
        const uint32_t n = widths[i % 10];
        seed = seed * 6364136223846793005ull + 1;
        const uint64_t v = n == 64 ? seed : seed & ((uint64_t(1) << n) - 1);
        ASSERT_TRUE(w.WriteValue(v, n));
        written.push_back({v, n});
    }
    BitReader r(buffer, w.BitCount());
    for (auto [v, n] : written) {
        uint64_t got = 0;
        ASSERT_TRUE(r.ReadValue(got, n));
        EXPECT_EQ(got, v) << n << " bits";
    }
    EXPECT_EQ(r.Remaining(), 0u);
}

TEST(BitStream, LsbFirstLayout) {
    uint8_t buffer[8 + BitWriter::kSlackBytes] = {};
    BitWriter w(buffer, 64);
    w.WriteValue(1, 1);       // bit 0
    w.WriteValue(0x5, 3);     // bits 1-3: 1 0 1
    w.WriteValue(0xABCD, 16);  // bits 4-19
    EXPECT_EQ(buffer[0], 0x01 | (0x5 << 1) | ((0xD) << 4));
    EXPECT_EQ(buffer[1], 0xBC);
    EXPECT_EQ(buffer[2], 0x0A);
}

TEST(BitStream, ReadsAreBoundedAndClearTheLastByte) {
    const uint8_t data[3] = {0xFF, 0xFF, 0xFF};
    BitReader r(data, 20);
    uint8_t out[2] = {0x00, 0xEE};
    ASSERT_TRUE(r.ReadBits(out, 12));
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[1], 0x0F);  // the high bits beyond 12 cleared
    uint64_t v = 0;
    EXPECT_FALSE(r.ReadValue(v, 9));  // 8 left
    EXPECT_TRUE(r.Failed());
    EXPECT_FALSE(r.ReadValue(v, 1));  // a failed reader stays failed
}

TEST(BitStream, TruncateZeroesWhatFollows) {
    uint8_t buffer[4 + BitWriter::kSlackBytes] = {};
    BitWriter w(buffer, 32);
    w.WriteValue(0xFFFFFFFF, 32);
    w.Truncate(5);
    EXPECT_EQ(buffer[0], 0x1F);
    EXPECT_EQ(buffer[1], 0);
    w.WriteValue(0, 27);
    EXPECT_FALSE(w.WriteValue(0, 1));  // full
}

// ---------------------------------------------------------------------------------
// Against netbits.py

struct Tokens {
    std::istringstream in;
    explicit Tokens(const std::string& s) : in(s) {}
    std::string Word() {
        std::string w;
        in >> w;
        return w;
    }
    uint64_t U() { return std::stoull(Word()); }
};

std::vector<uint8_t> Build(const GamePacket& p) {
    std::vector<uint8_t> out(kMaxPacketBytes + BitWriter::kSlackBytes);
    out.resize(p.Build(out.data()));
    return out;
}

void CheckPacketCase(Tokens& t, const std::vector<uint8_t>& python, int line) {
    static GamePacket written, read;
    written.Reset();
    written.frameTime = t.U() * 10000;
    written.ackedReliable = static_cast<uint32_t>(t.U());
    written.ackedText = static_cast<uint32_t>(t.U());
    written.packetId = static_cast<uint16_t>(t.U());
    written.packetCount = static_cast<uint8_t>(t.U());
    const uint32_t nDict = uint32_t(t.U()), nAcks = uint32_t(t.U()), nCalls = uint32_t(t.U()), nTexts = uint32_t(t.U());
    ASSERT_TRUE(read.Parse(python.data(), uint32_t(python.size()))) << line;
    BitReader& in = read.Reader();
    for (uint32_t i = 0; i < nDict; ++i) {
        const uint8_t slot = uint8_t(t.U());
        const std::vector<uint8_t> guid = FromHex(t.Word());
        written.BeginSection(SECTION_DICTIONARY);
        ASSERT_TRUE(WriteDictionaryItem(written, slot, guid.data()));
        written.EndSection();
        uint8_t gotSlot = 0, gotGuid[16];
        ASSERT_TRUE(ReadDictionaryItem(in, gotSlot, gotGuid)) << line;
        EXPECT_EQ(gotSlot, slot);
        EXPECT_EQ(0, std::memcmp(gotGuid, guid.data(), 16));
    }
    for (uint32_t i = 0; i < nAcks; ++i) {
        const uint16_t id = uint16_t(t.U());
        written.BeginSection(SECTION_ACKS);
        ASSERT_TRUE(WriteAckItem(written, id));
        written.EndSection();
        uint16_t got = 0;
        ASSERT_TRUE(ReadAckItem(in, got));
        EXPECT_EQ(got, id);
    }
    for (uint32_t i = 0; i < nCalls; ++i) {
        const uint32_t sequence = uint32_t(t.U());
        MPMethodCall call;
        call.methodId = uint8_t(t.U());
        const uint32_t argc = uint32_t(t.U());
        for (uint32_t a = 0; a < argc; ++a) {
            const uint32_t type = uint32_t(t.U());
            switch (type) {
            case MPARG_NIL: ASSERT_TRUE(call.AddNilArg()); break;
            case MPARG_BOOL: ASSERT_TRUE(call.AddBoolArg(t.U() != 0)); break;
            case MPARG_NUMBER: {
                const uint32_t bits = uint32_t(t.U());
                float f;
                std::memcpy(&f, &bits, 4);
                ASSERT_TRUE(call.AddNumberArg(f));
                break;
            }
            case MPARG_ENTITY: ASSERT_TRUE(call.AddEntityArg(uint16_t(t.U()))); break;
            case MPARG_VECTOR: {
                float v[4];
                for (float& x : v) {
                    const uint32_t bits = uint32_t(t.U());
                    std::memcpy(&x, &bits, 4);
                }
                ASSERT_TRUE(call.AddVectorArg(Vector(v[0], v[1], v[2], v[3])));
                break;
            }
            case MPARG_STRING: {
                const uint32_t length = uint32_t(t.U());
                const std::vector<uint8_t> bytes = FromHex(t.Word());
                ASSERT_EQ(bytes.size(), length);
                ASSERT_TRUE(call.AddStringArg(reinterpret_cast<const char*>(bytes.data()), length));
                break;
            }
            }
        }
        written.BeginSection(SECTION_CALLS);
        ASSERT_TRUE(WriteCallItem(written, sequence, call));
        written.EndSection();
        uint32_t gotSequence = 0;
        MPMethodCall got;
        ASSERT_TRUE(ReadCallItem(in, gotSequence, got)) << line;
        EXPECT_EQ(gotSequence, sequence);
        ASSERT_EQ(got.argCount, call.argCount);
        EXPECT_EQ(got.methodId, call.methodId);
        EXPECT_EQ(got.dataSize, call.dataSize);
        EXPECT_EQ(0, std::memcmp(got.data, call.data, call.dataSize)) << line;
    }
    for (uint32_t i = 0; i < nTexts; ++i) {
        const uint32_t sequence = uint32_t(t.U());
        const uint32_t n = uint32_t(t.U());
        std::u16string units;
        for (uint32_t u = 0; u < n; ++u) units += char16_t(t.U());
        written.BeginSection(SECTION_TEXTS);
        ASSERT_TRUE(WriteTextItem(written, sequence, units.data(), n));
        written.EndSection();
        uint32_t gotSequence = 0, gotCount = 0;
        char16_t got[kMaxChatUnits + 1];
        ASSERT_TRUE(ReadTextItem(in, gotSequence, got, gotCount));
        EXPECT_EQ(gotSequence, sequence);
        EXPECT_EQ(std::u16string(got, gotCount), units) << line;
    }
    EXPECT_FALSE(written.Overflowed());
    const std::vector<uint8_t> mine = Build(written);
    EXPECT_EQ(ToHex(mine.data(), mine.size()), ToHex(python.data(), python.size())) << "case line " << line;
    EXPECT_EQ(read.frameTime, written.frameTime);
    EXPECT_EQ(read.ackedReliable, written.ackedReliable);
    EXPECT_EQ(read.ackedText, written.ackedText);
    EXPECT_EQ(read.packetId, written.packetId);
    EXPECT_EQ(read.packetCount, written.packetCount);
    EXPECT_LE(python.size() * 8 - in.Position(), 7u) << "only padding is left";
}

TEST(PacketLayout, MatchesTheIndependentWriterAndReader) {
    const std::vector<std::string> lines = nettest::RunNetbits("cases 300 20261208");
    ASSERT_EQ(lines.size(), 300u) << "/usr/bin/python3 tests/support/netbits.py failed";
    int line = 0;
    for (const std::string& text : lines) {
        ++line;
        Tokens t(text);
        const std::string kind = t.Word();
        const std::vector<uint8_t> bytes = FromHex(t.Word());
        if (kind == "S") {
            const int64_t time = std::stoll(t.Word());
            const uint32_t sequence = uint32_t(t.U());
            const bool request = t.U() != 0;
            uint8_t frame[14];
            TimeSync::EncodeFrame(frame, time, sequence, request);
            EXPECT_EQ(ToHex(frame, 14), ToHex(bytes.data(), bytes.size())) << line;
            continue;
        }
        ASSERT_EQ(kind, "P");
        CheckPacketCase(t, bytes, line);
        if (HasFatalFailure()) return;
    }
}

// ---------------------------------------------------------------------------------
// Sizes and limits

TEST(PacketLayout, EmptyPacketIsTheHeaderAlone) {
    GamePacket p;
    p.Reset();
    p.frameTime = 123456789;
    p.packetId = 7;
    const std::vector<uint8_t> bytes = Build(p);
    ASSERT_EQ(bytes.size(), 26u);
    EXPECT_EQ(bytes[0], 5);
    for (size_t i = 16; i < 26; ++i) EXPECT_EQ(bytes[i], 0) << i;
    uint32_t time10 = 0;
    std::memcpy(&time10, bytes.data() + 1, 4);
    EXPECT_EQ(time10, 12345u);  // truncated to 10 ms units
}

TEST(PacketLayout, TextCosts) {
    struct Row {
        std::u16string text;
        uint32_t bits;
    } rows[] = {
        {u"abcdefghij", 32 + 8 + 8 + 80},
        {std::u16string(u"abcdefghi") + char16_t(255), 32 + 8 + 8 + 160},
        {std::u16string(u"abcdefghi") + char16_t(254), 32 + 8 + 8 + 80},
        {u"", 48},
    };
    for (const Row& r : rows) {
        GamePacket p;
        p.BeginSection(SECTION_TEXTS);
        ASSERT_TRUE(WriteTextItem(p, 1, r.text.data(), uint32_t(r.text.size())));
        p.EndSection();
        EXPECT_EQ(p.SectionBits(SECTION_TEXTS), r.bits);
        EXPECT_EQ(TextItemBits(r.text.data(), uint32_t(r.text.size())), r.bits);
    }
}

TEST(PacketLayout, OverflowRefusesAndRestoreRollsBack) {
    GamePacket p;
    p.Reset();
    uint32_t written = 0;
    for (;;) {
        p.Save();
        p.BeginSection(SECTION_ACKS);
        const bool ok = WriteAckItem(p, uint16_t(written));
        p.EndSection();
        if (!ok) break;
        ++written;
    }
    EXPECT_EQ(written, (9600u - 208u) / 16u);
    EXPECT_TRUE(p.Overflowed());
    p.Restore();
    EXPECT_FALSE(p.Overflowed());
    EXPECT_EQ(p.ItemCount(SECTION_ACKS), written);
    EXPECT_EQ(p.TotalBits(), 208u + written * 16u);
    std::vector<uint8_t> bytes = Build(p);
    EXPECT_EQ(bytes.size(), 1200u);
}

// A rollback must give the very packet that was never tried: items in several sections,
// a restore twice to one save, a save with a section still open, a restore right after a
// reset. Each script writes (section, value) items and restores where it says so.
TEST(PacketLayout, RestoreGivesThePacketWithoutTheTriedItems) {
    struct Step {
        char op;  // 'S' save, 'R' restore, 'B' begin (section), 'W' write 16 bits, 'E' end, 'Z' reset
        uint32_t arg;
    };
    struct Case {
        const char* name;
        std::vector<Step> tried;
        std::vector<Step> plain;  // the same packet written directly
    };
    const Case cases[] = {
        {"one item in three sections",
         {{'B', 2}, {'W', 1}, {'E', 0}, {'S', 0}, {'B', 1}, {'W', 2}, {'E', 0}, {'B', 3}, {'W', 3}, {'E', 0}, {'B', 2}, {'W', 4}, {'E', 0}, {'R', 0}, {'B', 4}, {'W', 5}, {'E', 0}},
         {{'B', 2}, {'W', 1}, {'E', 0}, {'B', 4}, {'W', 5}, {'E', 0}}},
        {"two restores to one save",
         {{'B', 1}, {'W', 7}, {'E', 0}, {'S', 0}, {'B', 1}, {'W', 8}, {'E', 0}, {'R', 0}, {'B', 0}, {'W', 9}, {'B', 1}, {'W', 9}, {'E', 0}, {'R', 0}, {'B', 1}, {'W', 6}, {'E', 0}},
         {{'B', 1}, {'W', 7}, {'E', 0}, {'B', 1}, {'W', 6}, {'E', 0}}},
        {"a save inside an open section",
         {{'B', 3}, {'W', 1}, {'S', 0}, {'W', 2}, {'W', 3}, {'R', 0}, {'B', 3}, {'W', 4}, {'E', 0}},
         {{'B', 3}, {'W', 1}, {'E', 0}, {'B', 3}, {'W', 4}, {'E', 0}}},
        {"a restore after a reset, no save",
         {{'B', 2}, {'W', 1}, {'E', 0}, {'S', 0}, {'Z', 0}, {'B', 2}, {'W', 5}, {'E', 0}, {'R', 0}, {'B', 0}, {'W', 3}, {'E', 0}},
         {{'B', 0}, {'W', 3}, {'E', 0}}},
    };
    const auto run = [](GamePacket& p, const std::vector<Step>& steps) {
        p.Reset();
        for (const Step& s : steps) {
            switch (s.op) {
            case 'S': p.Save(); break;
            case 'R': p.Restore(); break;
            case 'B': p.BeginSection(s.arg); break;
            case 'W': p.WriteValue(0xA500 | s.arg, 16); break;
            case 'E': p.EndSection(); break;
            case 'Z': p.Reset(); break;
            }
        }
    };
    static GamePacket tried, plain;
    for (const Case& c : cases) {
        run(tried, c.tried);
        run(plain, c.plain);
        EXPECT_EQ(tried.TotalBits(), plain.TotalBits()) << c.name;
        for (uint32_t s = 0; s < kPacketSectionCount; ++s) EXPECT_EQ(tried.ItemCount(s), plain.ItemCount(s)) << c.name << " section " << s;
        EXPECT_EQ(Build(tried), Build(plain)) << c.name;
    }
}

TEST(PacketLayout, ParseRefusesShortDatagrams) {
    uint8_t bytes[26] = {5};
    GamePacket p;
    EXPECT_FALSE(p.Parse(bytes, 25));
    EXPECT_TRUE(p.Parse(bytes, 26));
    EXPECT_EQ(p.Reader().Remaining(), 0u);
}

// ---------------------------------------------------------------------------------
// Hostile items: hand-written bits a peer might send.

struct HostileCall {
    const char* name;
    std::vector<std::pair<uint64_t, uint32_t>> fields;  // value, bits after the sequence
    bool accepted;
    uint16_t entity;  // expected entity argument when accepted
};

TEST(PacketReader, HostileCalls) {
    const HostileCall rows[] = {
        {"15 arguments", {{1, 8}, {15, 4}}, false, 0},
        {"type 7", {{1, 8}, {1, 4}, {7, 3}}, false, 0},
        {"type 6", {{1, 8}, {1, 4}, {6, 3}}, false, 0},
        {"entity 5000 means none", {{1, 8}, {1, 4}, {3, 3}, {5000, 16}}, true, 4095},
        {"entity 4094 kept", {{1, 8}, {1, 4}, {3, 3}, {4094, 16}}, true, 4094},
        {"string past the end", {{1, 8}, {1, 4}, {5, 3}, {200, 8}}, false, 0},
        {"257 bytes of data", {{1, 8}, {2, 4}, {5, 3}, {255, 8}}, false, 0},  // bytes appended below
    };
    for (const HostileCall& r : rows) {
        uint8_t buffer[1300 + BitWriter::kSlackBytes] = {};
        BitWriter w(buffer, 1300 * 8);
        w.WriteValue(0, 32);
        for (auto [v, n] : r.fields) w.WriteValue(v, n);
        if (std::string(r.name) == "257 bytes of data") {
            for (int i = 0; i < 255; ++i) w.WriteValue('x', 8);
            w.WriteValue(MPARG_STRING, 3);
            w.WriteValue(0, 8);  // one more length byte: 257 in all
        }
        BitReader in(buffer, w.BitCount());
        uint32_t sequence = 0;
        MPMethodCall call;
        EXPECT_EQ(ReadCallItem(in, sequence, call), r.accepted) << r.name;
        if (r.accepted) {
            EXPECT_EQ(call.GetEntityArg(0), r.entity) << r.name;
        }
    }
}

TEST(PacketReader, LongTextKeepsItsFirst127UnitsAndReadsThemAll) {
    uint8_t buffer[600 + BitWriter::kSlackBytes] = {};
    BitWriter w(buffer, 600 * 8);
    w.WriteValue(9, 32);
    w.WriteValue(255, 8);
    w.WriteValue(1, 8);
    for (int i = 0; i < 255; ++i) w.WriteValue(0x4E00 + i, 16);
    w.WriteValue(0xABCD, 16);  // what follows the item
    BitReader in(buffer, w.BitCount());
    uint32_t sequence = 0, count = 0;
    char16_t units[kMaxChatUnits + 1];
    ASSERT_TRUE(ReadTextItem(in, sequence, units, count));
    EXPECT_EQ(count, 127u);
    EXPECT_EQ(units[126], char16_t(0x4E00 + 126));
    EXPECT_EQ(units[127], 0);
    uint64_t next = 0;
    ASSERT_TRUE(in.ReadValue(next, 16));
    EXPECT_EQ(next, 0xABCDu);
}

}  // namespace
