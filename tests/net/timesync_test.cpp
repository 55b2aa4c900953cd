// Time synchronisation: the clock difference to a peer from request/response frames,
// and the mapping of packet header times onto the local time line.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <vector>

#include "core/CrtRand.h"
#include "net/base/NetConstants.h"
#include "net/base/NetDriver.h"
#include "net/TimeSync.h"

namespace {

// Records what a TimeSync sends.
class FrameSink : public Network::NetDriver {
public:
    std::vector<std::vector<uint8_t>> frames;
    uint32_t Listen(uint32_t) override { return 0; }
    uint32_t Connect(const char*, uint32_t, uint32_t) override { return 0; }
    void Answer(int32_t, bool) override {}
    void Disconnect() override {}
    void Reset() override {}
    bool Tick() override { return false; }
    void Send(int32_t, const uint8_t* data, uint32_t length, uint32_t kind) override {
        EXPECT_EQ(kind, uint32_t(NETFRAME_TIME_SYNC));
        frames.emplace_back(data, data + length);
    }
};

uint32_t SequenceOf(const std::vector<uint8_t>& frame) {
    uint32_t s;
    std::memcpy(&s, frame.data() + 9, 4);
    return s;
}

std::vector<uint8_t> Response(int64_t peerTime, uint32_t sequence) {
    std::vector<uint8_t> f(14);
    TimeSync::EncodeFrame(f.data(), peerTime, sequence, false);
    return f;
}

// Two clocks: remote = local - offset. Frames travel with a delay chosen per frame.
struct Simulation {
    explicit Simulation(int64_t localMinusRemote) : offset(localMinusRemote) {}
    int64_t offset;  // local minus remote, µs
    struct InFlight {
        int64_t arrival;
        bool toRemote;
        std::vector<uint8_t> bytes;
    };
    std::deque<InFlight> flight;
    FrameSink localOut, remoteOut;
    TimeSync local, remote;

    template <class D1, class D2>
    int64_t Run(int64_t untilUs, D1 delayToRemote, D2 delayToLocal) {
        local.Restart(0);
        remote.Restart(0);
        int64_t tenthAt = -1;
        for (int64_t t = 0; t <= untilUs; t += 1000) {
            local.Update(localOut, 1, t, t * 10);
            for (auto& f : localOut.frames) flight.push_back({t + delayToRemote(), true, f});
            localOut.frames.clear();
            for (size_t i = 0; i < flight.size();) {
                if (flight[i].arrival > t) {
                    ++i;
                    continue;
                }
                InFlight f = flight[i];
                flight.erase(flight.begin() + long(i));
                if (f.toRemote) {
                    remote.OnFrame(remoteOut, 1, f.bytes.data(), 14, t - offset);
                    for (auto& r : remoteOut.frames) flight.push_back({t + delayToLocal(), false, r});
                    remoteOut.frames.clear();
                } else {
                    local.OnFrame(localOut, 1, f.bytes.data(), 14, t);
                }
            }
            if (tenthAt < 0 && local.SampleCount() == 10) tenthAt = t;
        }
        return tenthAt;
    }
};

TEST(TimeSync, FixedDelaysGiveTheOffsetPlusHalfTheirDifference) {
    struct Row {
        int64_t offset, d1, d2;
    } rows[] = {{500000, 40000, 40000}, {-250000, 20000, 60000}, {1234567, 70000, 10000}, {0, 1000, 3000}};
    for (const Row& r : rows) {
        CrtSrand(7);
        Simulation s(r.offset);
        s.Run(20000000, [&] { return r.d1; }, [&] { return r.d2; });
        EXPECT_EQ(s.local.SampleCount(), 10u);
        EXPECT_FALSE(s.local.IsCollecting());
        EXPECT_EQ(s.local.MedianTimeDifference(), r.offset + (r.d2 - r.d1) / 2) << r.offset;
        EXPECT_EQ(s.local.MedianRoundTrip(), r.d1 + r.d2);
    }
}

TEST(TimeSync, JitteredDelaysConvergeWithin16MsAfterTenSamples) {
    for (uint32_t seed : {1u, 2u, 3u, 4u, 5u}) {
        CrtSrand(seed);
        uint64_t rng = seed;
        auto delay = [&] {
            rng = rng * 6364136223846793005ull + 1442695040888963407ull;
            return int64_t(40000 + (rng >> 33) % 30001);
        };
        Simulation s(-3000000);
        const int64_t tenth = s.Run(20000000, delay, delay);
        ASSERT_GE(tenth, 0) << "ten samples within 20 s, seed " << seed;
        EXPECT_NEAR(double(s.local.MedianTimeDifference()), -3000000.0, 16000.0) << seed;
    }
}

TEST(TimeSync, MediansOfFewSamples) {
    FrameSink out;
    TimeSync ts;
    ts.Restart(0);
    // Three requests at times 0, 0, 0 (before the first sample one per update).
    for (int i = 0; i < 3; ++i) ts.Update(out, 1, 0, i);
    ASSERT_EQ(out.frames.size(), 3u);
    // Round trips 10, 30 and 20 ms; the peer's clock equals ours (difference 0).
    ts.OnFrame(out, 1, Response(5000, 0).data(), 14, 10000);
    EXPECT_EQ(ts.MedianRoundTrip(), 10000);
    ts.OnFrame(out, 1, Response(15000, 1).data(), 14, 30000);
    EXPECT_EQ(ts.MedianRoundTrip(), 20000);  // two samples: their mean
    EXPECT_EQ(ts.MedianTimeDifference(), 0);
    ts.OnFrame(out, 1, Response(10000, 2).data(), 14, 20000);
    EXPECT_EQ(ts.MedianRoundTrip(), 20000);
}

TEST(TimeSync, StaleAndUnaskedResponsesAreIgnored) {
    FrameSink out;
    TimeSync ts;
    ts.Restart(0);
    for (int i = 0; i < 5; ++i) ts.Update(out, 1, 0, 0);
    ts.Update(out, 1, 0, 0);
    EXPECT_EQ(out.frames.size(), 5u) << "at most 5 outstanding";
    ts.OnFrame(out, 1, Response(0, 4).data(), 14, 1000);
    EXPECT_EQ(ts.SampleCount(), 1u);
    ts.OnFrame(out, 1, Response(0, 3).data(), 14, 1000);  // 3 after 4: ignored
    EXPECT_EQ(ts.SampleCount(), 1u);
    ts.OnFrame(out, 1, Response(0, 4).data(), 14, 1000);  // a duplicate
    EXPECT_EQ(ts.SampleCount(), 1u);
    ts.OnFrame(out, 1, Response(0, 900).data(), 14, 1000);  // never asked: the bound stays
    EXPECT_EQ(ts.LowestAccepted(), 5u);
    ts.OnFrame(out, 1, Response(0, 0xFFFFFFFFu).data(), 14, 1000);
    EXPECT_EQ(ts.LowestAccepted(), 5u);
    ts.OnFrame(out, 1, Response(0, 1).data(), 10, 1000);  // short frame
    EXPECT_EQ(ts.SampleCount(), 1u);
}

TEST(TimeSync, HostileTimesSaturate) {
    FrameSink out;
    TimeSync ts;
    ts.Restart(0);
    ts.Update(out, 1, INT64_MAX - 5, 0);
    ts.Update(out, 1, INT64_MAX - 5, 0);
    ts.OnFrame(out, 1, Response(INT64_MIN, 0).data(), 14, INT64_MAX);  // a difference that does not fit
    EXPECT_EQ(ts.SampleCount(), 0u);
    ts.OnFrame(out, 1, Response(INT64_MAX, 1).data(), 14, INT64_MAX);
    EXPECT_EQ(ts.SampleCount(), 1u);
    int64_t local = 0;
    EXPECT_TRUE(ts.MapPacketTime(UINT64_MAX, 1, 100, &local));
    EXPECT_EQ(local, 100);
}

TEST(TimeSync, RequestsAreAnsweredAfterTheTenthSample) {
    FrameSink out;
    TimeSync ts;
    ts.Restart(0);
    for (uint32_t i = 0; i < 10; ++i) {
        ts.Update(out, 1, 0, int64_t(i) * 20000000);
        ts.OnFrame(out, 1, Response(0, i).data(), 14, 100);
    }
    EXPECT_FALSE(ts.IsCollecting());
    out.frames.clear();
    ts.Update(out, 1, 0, 900000000);
    EXPECT_TRUE(out.frames.empty()) << "no more requests";
    std::vector<uint8_t> request(14);
    TimeSync::EncodeFrame(request.data(), 77, 42, true);
    ts.OnFrame(out, 1, request.data(), 14, 5000);
    ASSERT_EQ(out.frames.size(), 1u);
    EXPECT_EQ(SequenceOf(out.frames[0]), 42u);
    EXPECT_EQ(out.frames[0][13], 0);
    int64_t answeredAt;
    std::memcpy(&answeredAt, out.frames[0].data() + 1, 8);
    EXPECT_EQ(answeredAt, 5000);
}

TEST(TimeSync, PacketTimesAreClampedToTheLastAndNow) {
    struct Row {
        uint64_t header;
        int64_t now;
        bool accepted;
        int64_t local;
    } rows[] = {
        {1000, 5000, true, 1000},   // before any sample: the header time
        {1000, 5000, true, 1000},   // equal times are accepted (one pass)
        {900, 5000, false, 0},      // earlier: refused
        {9000, 5000, true, 5000},   // in the future: now
        {6000, 8000, false, 0},     // earlier than the last accepted header time
        {9500, 8000, true, 8000},
    };
    TimeSync ts;
    ts.Restart(0);
    int n = 0;
    for (const Row& r : rows) {
        int64_t local = -1;
        EXPECT_EQ(ts.MapPacketTime(r.header, uint16_t(++n), r.now, &local), r.accepted) << n;
        if (r.accepted) {
            EXPECT_EQ(local, r.local) << n;
        }
    }
}

TEST(TimeSync, EarlyPacketsOfAPeerBehindUsMapToZeroNotBelow) {
    FrameSink out;
    TimeSync ts;
    ts.Restart(0);
    ts.Update(out, 1, 1000, 0);
    ts.OnFrame(out, 1, Response(50000, 0).data(), 14, 2000);  // the peer is ~48.5 ms ahead
    ASSERT_LT(ts.MedianTimeDifference(), 0);
    int64_t local = -1;
    ASSERT_TRUE(ts.MapPacketTime(0, 1, 3000, &local));  // a header time of 0: before its first frame
    EXPECT_EQ(local, 0);
}

}  // namespace
