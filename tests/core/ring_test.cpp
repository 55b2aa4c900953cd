// test-sanitize: thread address
// A small ring (1024 bytes plus the reserve) driven from one thread: every offset is fixed.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <vector>

#include "core/BaseThread.h"

namespace {

constexpr uint32_t kCapacity = 1024 + CommandRingBuffer::kReserve;

uint8_t PatternByte(uint32_t id, uint32_t i) { return static_cast<uint8_t>(id * 37 + i * 11 + 5); }

void Post(CommandRingBuffer& ring, uint32_t id, uint32_t size) {
    ASSERT_TRUE(ring.BeginWrite(id, size)) << "id " << id;
    std::vector<uint8_t> bytes(size);
    for (uint32_t i = 0; i < size; ++i) bytes[i] = PatternByte(id, i);
    ring.Write(bytes.data(), size);
    ring.EndWrite();
}

void Expect(CommandRingBuffer& ring, uint32_t id, uint32_t size) {
    ASSERT_TRUE(ring.BeginRead());
    ASSERT_EQ(ring.RecordId(), id);
    ASSERT_EQ(ring.RecordSize(), size);
    std::vector<uint8_t> bytes(size), want(size);
    ASSERT_TRUE(ring.Read(bytes.data(), size));
    for (uint32_t i = 0; i < size; ++i) want[i] = PatternByte(id, i);
    ASSERT_EQ(bytes, want);
    ring.EndRead();
}

// Wrap-around at its exact boundaries, as scripts of steps on a fresh ring.
struct Step {
    char op;  // P post (id, size), E expect (id, size), X reservation fails (id, size),
              // F filler of size a, w / r / u: write offset, read offset, used bytes = a
    uint32_t a = 0, b = 0;
};
TEST(CommandRing, WrapsAtItsExactBoundaries) {
    const struct {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"a record ending exactly at the end wraps the next to 0",
         {{'P', 6, 1000}, {'E', 6, 1000}, {'r', 1008}, {'P', 7, 520}, {'w', 0}, {'P', 8, 12}, {'w', 20}, {'E', 7, 520}, {'r', 0},
          {'E', 8, 12}, {'u', 0}}},
        {"four bytes left are skipped without a filler",
         {{'P', 6, 1000}, {'E', 6, 1000}, {'P', 7, 516}, {'w', 0}, {'P', 8, 3}, {'w', 12}, {'E', 7, 516}, {'r', 0}, {'E', 8, 3},
          {'u', 0}}},
        // 100 bytes do not fit the 96 left before the end; at the start the reader (608)
        // is closer than 100 + 520 bytes, so the reservation fails after the wrap.
        {"a failed wrap still moves the write offset and the retry does not wrap again",
         {{'P', 6, 600}, {'E', 6, 600}, {'P', 7, 400}, {'P', 8, 416}, {'w', 1440}, {'X', 9, 100}, {'w', 0}, {'u', kCapacity - 608},
          {'E', 7, 400}, {'P', 9, 100}, {'w', 108}, {'E', 8, 416}, {'F', 88}, {'r', 0}, {'E', 9, 100}, {'u', 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CommandRingBuffer ring(kCapacity, 0);
        for (const Step& s : c.steps) {
            switch (s.op) {
            case 'P': Post(ring, s.a, s.b); break;
            case 'E': Expect(ring, s.a, s.b); break;
            case 'X': EXPECT_FALSE(ring.BeginWrite(s.a, s.b)); break;
            case 'F':
                ASSERT_TRUE(ring.BeginRead());
                EXPECT_EQ(ring.RecordId(), 0u);
                EXPECT_EQ(ring.RecordSize(), s.a);
                ring.EndRead();
                break;
            case 'w': EXPECT_EQ(ring.WriteOffset(), s.a); break;
            case 'r': EXPECT_EQ(ring.ReadOffset(), s.a); break;
            case 'u': EXPECT_EQ(ring.Used(), s.a); break;
            }
            if (HasFatalFailure()) return;
        }
    }
}

TEST(CommandRing, ReservationBoundsAndAlignment) {
    CommandRingBuffer ring(kCapacity, 0);
    EXPECT_FALSE(ring.CanEverFit(kCapacity - 512));
    EXPECT_TRUE(ring.CanEverFit(kCapacity - 513));
    EXPECT_FALSE(ring.BeginWrite(6, kCapacity - 512));
    EXPECT_FALSE(ring.BeginWrite(6, 0xFFFFFFFFu));
    ASSERT_TRUE(ring.BeginWrite(6, kCapacity - 513));
    ring.Skip(kCapacity - 513);
    ring.EndWrite();
    EXPECT_FALSE(ring.HasSpace(0));  // used must stay below capacity - size - 512

    CommandRingBuffer aligned(kCapacity, 0);
    ASSERT_TRUE(aligned.BeginWrite(6, 40));
    aligned.Write("abc", 3);
    const uint32_t pad = aligned.Align16();
    EXPECT_EQ(reinterpret_cast<uintptr_t>(aligned.Cursor()) & 15, 0u);
    aligned.Write("0123456789abcdef", 16);
    aligned.EndWrite();
    ASSERT_TRUE(aligned.BeginRead());
    EXPECT_EQ(aligned.RecordSize(), 3 + pad + 16);
    aligned.SkipRead(3);
    EXPECT_EQ(aligned.AlignRead16(), pad);
    char v[16];
    ASSERT_TRUE(aligned.Read(v, 16));
    EXPECT_EQ(std::memcmp(v, "0123456789abcdef", 16), 0);
    EXPECT_FALSE(aligned.Read(v, 1));  // never past the record
    aligned.EndRead();
}

// Random records, short commits and partial reads against a queue model: every record
// comes out with its id, committed (not reserved) size and bytes, across many wraps.
TEST(CommandRing, RandomTrafficMatchesAQueueModel) {
    CommandRingBuffer ring(kCapacity, 0);
    struct Rec {
        uint32_t id, size;
    };
    std::deque<Rec> model;
    uint32_t state = 12345, nextId = 1;
    auto rnd = [&](uint32_t n) {
        state = state * 1103515245u + 12345u;
        return (state >> 8) % n;
    };
    int wrapsSeen = 0;
    for (int step = 0; step < 20000; ++step) {
        if (rnd(2) == 0) {
            const uint32_t reserve = rnd(700);
            const uint32_t size = rnd(4) == 0 ? rnd(reserve + 1) : reserve;
            const uint32_t id = 1 + (nextId++ % 1000);
            const uint32_t before = ring.WriteOffset();
            if (!ring.BeginWrite(id, reserve)) continue;
            std::vector<uint8_t> bytes(size);
            for (uint32_t i = 0; i < size; ++i) bytes[i] = PatternByte(id, i);
            ring.Write(bytes.data(), size);
            ring.EndWrite();
            wrapsSeen += ring.WriteOffset() < before;
            model.push_back({id, size});
        } else {
            if (!ring.BeginRead()) {
                ASSERT_TRUE(model.empty());
                continue;
            }
            if (ring.RecordId() == 0) {  // a filler
                ring.EndRead();
                continue;
            }
            ASSERT_FALSE(model.empty());
            const Rec r = model.front();
            model.pop_front();
            ASSERT_EQ(ring.RecordId(), r.id);
            ASSERT_EQ(ring.RecordSize(), r.size);
            const uint32_t take = rnd(r.size + 1);  // handlers may read less
            std::vector<uint8_t> bytes(take);
            ASSERT_TRUE(ring.Read(bytes.data(), take));
            for (uint32_t i = 0; i < take; ++i) ASSERT_EQ(bytes[i], PatternByte(r.id, i));
            ring.EndRead();
        }
    }
    EXPECT_GT(wrapsSeen, 100);
}

}  // namespace

// Reads inside one record: a read that does not fit copies nothing and moves nothing, a
// skip stops at the record's end, and the next record comes out whole either way.
TEST(CommandRing, ShortReadsAndLongSkipsStayInsideTheRecord) {
    struct Case {
        uint32_t firstRead;  // bytes read first (0: none)
        uint32_t skip;       // then skipped
        uint32_t tryRead;    // then tried
        bool tryFits;
        uint32_t leftAfter;
    };
    const Case cases[] = {
        {0, 0, 12, true, 0},   // exactly the record
        {0, 0, 13, false, 12}, // one past: refused, nothing consumed
        {4, 0, 9, false, 8},   // past the rest after a partial read
        {4, 100, 1, false, 0}, // the skip is clamped at the end
        {5, 3, 4, true, 0},    // odd sizes that add up
    };
    for (const Case& c : cases) {
        CommandRingBuffer ring(kCapacity, 0);
        Post(ring, 7, 12);
        Post(ring, 8, 5);
        ASSERT_TRUE(ring.BeginRead());
        uint8_t bytes[16];
        std::memset(bytes, 0xEE, sizeof bytes);
        if (c.firstRead) {
            ASSERT_TRUE(ring.Read(bytes, c.firstRead));
        }
        ring.SkipRead(c.skip);
        const uint32_t at = ring.RecordSize() - ring.ReadLeft();
        uint8_t tried[16];
        std::memset(tried, 0xEE, sizeof tried);
        EXPECT_EQ(ring.Read(tried, c.tryRead), c.tryFits) << c.firstRead << "/" << c.skip << "/" << c.tryRead;
        if (c.tryFits) {
            for (uint32_t i = 0; i < c.tryRead; ++i) EXPECT_EQ(tried[i], PatternByte(7, at + i));
        } else {
            EXPECT_EQ(tried[0], 0xEE);  // nothing copied
        }
        EXPECT_EQ(ring.ReadLeft(), c.leftAfter);
        ring.EndRead();
        Expect(ring, 8, 5);
    }
}
