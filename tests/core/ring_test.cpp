// test-sanitize: thread address
// CommandRingBuffer arithmetic on a small ring (1024 bytes plus the 512-byte reserve),
// driven from one thread so that every offset is deterministic.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <vector>

#include "core/BaseThread.h"

namespace {

constexpr uint32_t kCapacity = 1024 + CommandRingBuffer::kReserve;

uint8_t PatternByte(uint32_t id, uint32_t i) { return static_cast<uint8_t>(id * 37 + i * 11 + 5); }

// Reserves `reserve` bytes, writes `size` of them and commits.
void Post(CommandRingBuffer& ring, uint32_t id, uint32_t size, uint32_t reserve = ~0u) {
    ASSERT_TRUE(ring.BeginWrite(id, reserve == ~0u ? size : reserve)) << "id " << id;
    std::vector<uint8_t> bytes(size);
    for (uint32_t i = 0; i < size; ++i) bytes[i] = PatternByte(id, i);
    ring.Write(bytes.data(), size);
    ring.EndWrite();
}

// Reads the next record (skipping fillers when asked) and checks id, size and bytes.
void Expect(CommandRingBuffer& ring, uint32_t id, uint32_t size) {
    ASSERT_TRUE(ring.BeginRead());
    ASSERT_EQ(ring.RecordId(), id);
    ASSERT_EQ(ring.RecordSize(), size);
    std::vector<uint8_t> bytes(size);
    ASSERT_TRUE(ring.Read(bytes.data(), size));
    for (uint32_t i = 0; i < size; ++i) ASSERT_EQ(bytes[i], PatternByte(id, i)) << "byte " << i;
    ring.EndRead();
}

TEST(CommandRing, RecordEndingExactlyAtTheEndWrapsTheNextToZero) {
    CommandRingBuffer ring(kCapacity, 0);
    Post(ring, 6, 1000);  // occupies 0..1008
    Expect(ring, 6, 1000);
    ASSERT_EQ(ring.ReadOffset(), 1008u);
    Post(ring, 7, kCapacity - 1008 - 8);  // 8 + 520 bytes end exactly at the end
    EXPECT_EQ(ring.WriteOffset(), 0u);
    Post(ring, 8, 12);
    EXPECT_EQ(ring.WriteOffset(), 20u);
    Expect(ring, 7, 520);
    EXPECT_EQ(ring.ReadOffset(), 0u);
    Expect(ring, 8, 12);
    EXPECT_FALSE(ring.BeginRead());
}

TEST(CommandRing, FourBytesLeftAreSkippedWithoutAFiller) {
    CommandRingBuffer ring(kCapacity, 0);
    Post(ring, 6, 1000);
    Expect(ring, 6, 1000);
    Post(ring, 7, kCapacity - 4 - 1008 - 8);  // ends 4 bytes before the end
    EXPECT_EQ(ring.WriteOffset(), 0u);
    Post(ring, 8, 3);  // padded to 4
    EXPECT_EQ(ring.WriteOffset(), 12u);
    Expect(ring, 7, kCapacity - 4 - 1008 - 8);
    EXPECT_EQ(ring.ReadOffset(), 0u);
    Expect(ring, 8, 3);  // no filler record in between
    EXPECT_EQ(ring.Used(), 0u);
}

TEST(CommandRing, FailedWrapStillMovesTheWriteOffsetAndTheRetryDoesNotWrapAgain) {
    CommandRingBuffer ring(kCapacity, 0);
    Post(ring, 6, 600);  // 0..608
    Expect(ring, 6, 600);
    Post(ring, 7, 400);  // 608..1016
    Post(ring, 8, 416);  // 1016..1440
    ASSERT_EQ(ring.WriteOffset(), 1440u);
    // 100 bytes do not fit the 96 left before the end; at the start the reader (608)
    // is closer than 100 + 520 bytes, so the reservation fails after the wrap.
    EXPECT_FALSE(ring.BeginWrite(9, 100));
    EXPECT_EQ(ring.WriteOffset(), 0u);
    EXPECT_EQ(ring.Used(), kCapacity - 608);
    Expect(ring, 7, 400);  // the reader moves to 1016
    Post(ring, 9, 100);    // no second filler: starts at 0
    EXPECT_EQ(ring.WriteOffset(), 108u);
    Expect(ring, 8, 416);
    ASSERT_TRUE(ring.BeginRead());  // the filler covering 1440..1536
    EXPECT_EQ(ring.RecordId(), 0u);
    EXPECT_EQ(ring.RecordSize(), 88u);
    ring.EndRead();
    EXPECT_EQ(ring.ReadOffset(), 0u);
    Expect(ring, 9, 100);
}

TEST(CommandRing, ShortCommitAndUnderReadingHandlerKeepTheNextRecordIntact) {
    CommandRingBuffer ring(kCapacity, 0);
    Post(ring, 6, 50, 200);  // 200 reserved, 50 written
    EXPECT_EQ(ring.WriteOffset(), 60u);
    Post(ring, 7, 64);
    ASSERT_TRUE(ring.BeginRead());
    EXPECT_EQ(ring.RecordSize(), 50u);
    uint8_t first[10];
    ASSERT_TRUE(ring.Read(first, 10));  // the handler reads only 10 of 50 bytes
    EXPECT_EQ(ring.ReadLeft(), 40u);
    uint8_t tooMuch[64];
    EXPECT_FALSE(ring.Read(tooMuch, 41));  // never past the record
    ring.EndRead();
    Expect(ring, 7, 64);
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
    aligned.EndRead();
}

// Random records, short commits and partial reads against a queue model: every record
// comes out with its id, committed size and bytes, across many wraps.
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
            if (ring.WriteOffset() < before) ++wrapsSeen;
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
