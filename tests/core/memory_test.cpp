// test-sanitize: address
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "core/Memory.h"

namespace {

std::vector<std::string> Texts(CaptureLogSink& sink) {
    std::vector<std::string> out;
    for (const auto& m : sink.Messages()) out.push_back(m.text);
    return out;
}

TEST(EngineAlloc, AlignsAndRefusesSizesThatWouldWrap) {
    void* p = EngineAlloc(1);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) & 15, 0u);
    ReleaseBuffer(&p);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(EngineAlloc(SIZE_MAX), nullptr);
    EXPECT_EQ(EngineAlloc(SIZE_MAX - 8), nullptr);
}

TEST(SmallObjectPools, ClassesHeapFallbackAndStatistics) {
    CaptureLogSink sink;
    sink.Attach();
    SmallObjectPools pools(4, 4, 4, 4, 4);
    const auto& c16 = pools.Class(0);
    const auto& c32 = pools.Class(1);
    const auto& c256 = pools.Class(4);

    EXPECT_EQ(pools.Alloc(0), nullptr);
    void* a = pools.Alloc(17);
    EXPECT_EQ(a, c32.first + 3 * 32);  // the stack was filled ascending: highest block first
    void* b = pools.Alloc(256);
    EXPECT_TRUE(b >= c256.first && b < c256.end);
    void* heap = pools.Alloc(257);
    EXPECT_FALSE(heap >= c16.first && heap < c256.end);
    pools.Free(heap);  // the address sanitizer checks the pairing

    std::vector<void*> small;
    for (int i = 0; i < 5; ++i) small.push_back(pools.Alloc(16));
    EXPECT_TRUE(small[3] >= c16.first && small[3] < c16.end);
    EXPECT_FALSE(small[4] >= c16.first && small[4] < c256.end);  // class exhausted: heap
    pools.Free(small[4]);
    pools.Free(small[0]);
    EXPECT_EQ(pools.PoolAllocations(), 6u);
    EXPECT_EQ(pools.AllAllocations(), 8u);

    pools.LogStatistics();
    EXPECT_EQ(Texts(sink), (std::vector<std::string>{
                               "Total memory used: 0.00MB, (data: 0.00, block indices: 0.00)\n",
                               "Pool based allocations: 6 out of 8 (75%)",
                               std::string(102, '-'),
                               "016 bytes:  3 (75%), peak: 4 (100%)",
                               "032 bytes:  1 (25%), peak: 1 (25%)",
                               "064 bytes:  0 (0%), peak: 0 (0%)",
                               "128 bytes:  0 (0%), peak: 0 (0%)",
                               "256 bytes:  1 (25%), peak: 1 (25%)",
                           }));
    pools.Free(a);
    pools.Free(b);
    for (int i = 1; i < 4; ++i) pools.Free(small[i]);
}

TEST(SmallObjectPools, BadFreesAreRefusedWithoutCorruptingTheLists) {
    CaptureLogSink sink;
    sink.Attach();
    SmallObjectPools pools(2, 2, 0, 0, 0);
    uint8_t* a = static_cast<uint8_t*>(pools.Alloc(16));
    pools.Free(a);
    pools.Free(a);      // second free
    pools.Free(a + 4);  // inside a block
    EXPECT_EQ(pools.Class(0).freeCount, 2u);
    EXPECT_TRUE(sink.Contains("is not an allocated 16-byte block"));
    void* x = pools.Alloc(32);  // the 32-byte list is intact
    EXPECT_EQ(x, pools.Class(1).first + 32);
    pools.Free(x);
}

TEST(SmallObjectPools, APointerInsideABlockIsRefusedInEveryClass) {
    CaptureLogSink sink;
    sink.Attach();
    SmallObjectPools pools(2, 2, 2, 2, 2);
    for (int i = 0; i < SmallObjectPools::kClassCount; ++i) {
        const uint32_t size = 16u << i;
        uint8_t* block = static_cast<uint8_t*>(pools.Alloc(size));
        for (uint32_t inside : {8u, size / 2, size - 16}) {
            if (inside == 0) continue;
            sink.Clear();
            pools.Free(block + inside);
            EXPECT_TRUE(sink.Contains("is not an allocated " + std::to_string(size) + "-byte block")) << size << "+" << inside;
            EXPECT_EQ(pools.Class(i).freeCount, 1u) << size << "+" << inside;
        }
        pools.Free(block);
        EXPECT_EQ(pools.Class(i).freeCount, 2u) << size;
    }
}

TEST(SmallObjectPools, SystemInstanceSizesAndPercentagesPastFortyMillion) {
    CaptureLogSink sink;
    sink.Attach();
    SmallObjectPools pools(16384, 131072, 32768, 16384, 16384);
    pools.LogStatistics();
    for (uint32_t i = 0; i < 45000000u; ++i) pools.Free(pools.Alloc(64));  // pool x 100 passes 32 bits
    pools.Free(pools.Alloc(4096));
    pools.LogStatistics();
    const auto lines = Texts(sink);
    ASSERT_GE(lines.size(), 11u);
    EXPECT_EQ(lines[0], "Total memory used: 13.06MB, (data: 12.25, block indices: 0.81)\n");
    EXPECT_EQ(lines[1], "Pool based allocations: 0 out of 0 (0%)");  // empty divisor
    EXPECT_EQ(lines[9], "Pool based allocations: 45000000 out of 45000001 (99%)");
}

class NamedChunk : public SystemMemoryChunk {
public:
    const char* GetName() const override { return name.empty() ? nullptr : name.c_str(); }
    std::string name;
};

class TestPool : public SystemMemoryPool {
public:
    ~TestPool() override { Release(); }
    int created = 0;

protected:
    SystemMemoryChunk* CreateChunk() override {
        ++created;
        return new NamedChunk;
    }
};

struct Seg {
    uint32_t offset, length;
    bool free;
    bool operator==(const Seg&) const = default;
};

std::vector<Seg> Segments(TestPool& pool) {
    std::vector<Seg> out;
    for (SystemMemoryChunk* c = pool.FirstChunk(); c; c = c->next) out.push_back({c->offset, c->length, c->free != 0});
    return out;
}

// Tiling, lengths in granules, no two free neighbours, and a free list that holds
// exactly the free chunks in address order.
void CheckInvariants(TestPool& pool) {
    uint32_t at = 0;
    bool prevFree = false;
    std::vector<SystemMemoryChunk*> freeChunks;
    for (SystemMemoryChunk* c = pool.FirstChunk(); c; c = c->next) {
        ASSERT_EQ(c->offset, at);
        ASSERT_GT(c->length, 0u);
        ASSERT_EQ(c->length % pool.Granularity(), 0u);
        ASSERT_FALSE(prevFree && c->free) << "free neighbours at " << c->offset;
        ASSERT_TRUE(!c->next || c->next->prev == c);
        prevFree = c->free;
        if (c->free) freeChunks.push_back(c);
        at += c->length;
    }
    ASSERT_EQ(at, pool.Size());
    std::vector<SystemMemoryChunk*> listed;
    for (SystemMemoryChunk* c = pool.FirstFreeChunk(); c; c = c->nextFree) listed.push_back(c);
    ASSERT_EQ(listed, freeChunks);
}

// The reference: best fit over segments in address order, exact fit at once, ties keep
// the first, the new chunk before the rest; releases merge with both neighbours.
struct Model {
    std::vector<Seg> segs;
    int Alloc(uint32_t s) {
        int best = -1;
        for (size_t i = 0; i < segs.size(); ++i) {
            if (!segs[i].free || segs[i].length < s) continue;
            if (segs[i].length == s) {
                segs[i].free = false;
                return static_cast<int>(i);
            }
            if (best < 0 || segs[i].length < segs[best].length) best = static_cast<int>(i);
        }
        if (best < 0) return -1;
        Seg rest = segs[best];
        segs.insert(segs.begin() + best, Seg{rest.offset, s, false});
        segs[best + 1] = {rest.offset + s, rest.length - s, true};
        return best;
    }
    void Release(uint32_t offset) {
        size_t i = 0;
        while (segs[i].offset != offset) ++i;
        segs[i].free = true;
        if (i + 1 < segs.size() && segs[i + 1].free) {
            segs[i].length += segs[i + 1].length;
            segs.erase(segs.begin() + i + 1);
        }
        if (i > 0 && segs[i - 1].free) {
            segs[i - 1].length += segs[i].length;
            segs.erase(segs.begin() + i);
        }
    }
};

// Best fit, ties, exact fits, splitting and merging are checked against the model
// below; this covers what the model leaves out.
TEST(SystemMemoryPool, RoundingOwnGranularityLoadingAndAddresses) {
    TestPool pool;
    ASSERT_TRUE(pool.Init(1024, 16, 0));
    SystemMemoryChunk* a = pool.Alloc(10, -1);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->length, 16u);  // one granule
    EXPECT_FALSE(a->IsLoaded());
    SystemMemoryChunk* zero = pool.Alloc(0);
    EXPECT_EQ(zero->length, 16u);  // never a zero-length chunk
    SystemMemoryChunk* b = pool.Alloc(100, 64);  // a granularity of its own
    EXPECT_EQ(b->length, 128u);
    EXPECT_EQ(b->offset, 32u);
    pool.MarkLoaded(b);
    EXPECT_TRUE(b->IsLoaded());
    EXPECT_EQ(pool.GetChunkAddress(b), static_cast<uint8_t*>(pool.GetChunkAddress(a)) + 32);
    EXPECT_EQ(pool.Alloc(2048), nullptr);
    CheckInvariants(pool);
    for (SystemMemoryChunk* c : {a, zero, b}) pool.ReleaseChunk(c);
    EXPECT_EQ(Segments(pool), (std::vector<Seg>{{0, 1024, true}}));
}

TEST(SystemMemoryPool, RandomTrafficMatchesTheReferenceModel) {
    TestPool pool;
    ASSERT_TRUE(pool.Init(64 * 1024, 16));
    Model model{{{0, 64 * 1024, true}}};
    std::vector<SystemMemoryChunk*> live;
    uint32_t state = 99;
    auto rnd = [&](uint32_t n) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % n;
    };
    for (int step = 0; step < 6000; ++step) {
        if (live.empty() || rnd(100) < 55) {
            const uint32_t size = rnd(4) == 0 ? rnd(4000) : rnd(300);
            SystemMemoryChunk* c = pool.Alloc(size);
            const int m = model.Alloc(size == 0 ? 16 : (size + 15) / 16 * 16);
            ASSERT_EQ(c != nullptr, m >= 0) << "step " << step;
            if (c) live.push_back(c);
        } else {
            const size_t i = rnd(static_cast<uint32_t>(live.size()));
            model.Release(live[i]->offset);
            pool.ReleaseChunk(live[i]);
            live[i] = live.back();
            live.pop_back();
        }
        ASSERT_EQ(Segments(pool), model.segs) << "step " << step;
        if (step % 50 == 0) CheckInvariants(pool);
    }
    for (SystemMemoryChunk* c : live) pool.ReleaseChunk(c);
    EXPECT_EQ(Segments(pool), (std::vector<Seg>{{0, 64 * 1024, true}}));
}

TEST(SystemMemoryPool, DumpTextAndReleaseWithLiveChunks) {
    CaptureLogSink sink;
    sink.Attach();
    TestPool pool;
    ASSERT_TRUE(pool.Init(4096, 16));
    auto* a = static_cast<NamedChunk*>(pool.Alloc(100));
    a->name = "music.ogg";
    SystemMemoryChunk* gap = pool.Alloc(16);
    SystemMemoryChunk* b = pool.Alloc(1000);
    pool.MarkLoaded(b);
    pool.ReleaseChunk(gap);
    pool.Dump();
    EXPECT_EQ(Texts(sink), (std::vector<std::string>{
                               "Dump of memory pool of size 4096 and alignment 16",
                               "Chunk: 000000    start: 00000000, length: 00000112, loading: 1 [music.ogg]",
                               "Chunk: 000001    start: 00000128, length: 00001008, loading: 0 []",
                               "High watermark: 1136",
                           }));
    sink.Clear();
    pool.Release();  // two chunks still live: logged, every record deleted
    EXPECT_TRUE(sink.Contains("still in use [music.ogg]"));
    EXPECT_EQ(pool.FirstChunk(), nullptr);
    EXPECT_EQ(pool.Alloc(16), nullptr);
}

TEST(ScratchAllocator, RoundingWrapGenerationsAndLimits) {
    ScratchAllocator scratch;
    void* p = nullptr;
    uint32_t gen = 99;
    EXPECT_FALSE(scratch.Alloc(16, &p, &gen));  // no buffer yet
    scratch.Init(256);
    ASSERT_TRUE(scratch.Alloc(100, &p, &gen));
    void* base = p;
    ASSERT_TRUE(scratch.Alloc(144, &p, &gen));  // 112 used: exactly the rest, no wrap
    EXPECT_EQ(gen, 0u);
    EXPECT_EQ(p, static_cast<uint8_t*>(base) + 112);
    ASSERT_TRUE(scratch.Alloc(1, &p, &gen));  // one more byte wraps
    EXPECT_EQ(gen, 1u);
    EXPECT_EQ(p, base);
    EXPECT_FALSE(scratch.Alloc(257, &p, &gen));
    EXPECT_TRUE(scratch.Alloc(256, &p, &gen));  // the whole buffer, after a wrap
    EXPECT_EQ(gen, 2u);
    scratch.NextFrame();
    EXPECT_EQ(scratch.Generation(), 3u);
    EXPECT_EQ(scratch.Offset(), 0u);
    scratch.Init(1024);  // keeps the buffer it has, resets the rest
    EXPECT_EQ(scratch.Size(), 256u);
    EXPECT_EQ(scratch.Offset() + scratch.Generation(), 0u);
    scratch.Release();
    EXPECT_FALSE(scratch.Alloc(16, &p, &gen));
}

}  // namespace
