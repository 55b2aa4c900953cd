#pragma once
// TimeSync: per peer, the round trip and the clock difference to that peer, measured
// with 14-byte request/response frames (frame type 6), and the mapping of a received
// packet's header time onto the local time line.
//
// Frame: u8 type 6; u64 sender's network time (µs); u32 request sequence; u8 1 request,
// 0 response. Up to 5 requests are outstanding (expiry after 5 s, or below the lowest
// sequence still accepted); the first 10 samples are kept and their medians fixed.
// Everything a peer sends is untrusted: short frames are ignored, arithmetic on its
// times saturates and a sample whose difference does not fit is dropped.
//
// Network thread only.
#include <cstdint>

namespace Network {
class NetDriver;
}

class TimeSync {
public:
    struct Sample {
        int64_t timeDifference = 0;
        int64_t roundTrip = 0;
    };

    // Counts 0, medians 0, collecting, next request at the given counter value.
    void Restart(int64_t counterNow);
    // Periodic step: a request when one is due (see the design note in TimeSync.cpp).
    void Update(Network::NetDriver& driver, int32_t peer, int64_t now, int64_t counterNow);
    // A received time-sync frame.
    void OnFrame(Network::NetDriver& driver, int32_t peer, const uint8_t* frame, uint32_t length, int64_t now);
    // The packet's local time, or false when its header time is earlier than the last
    // accepted one.
    bool MapPacketTime(uint64_t headerTime, uint16_t packetId, int64_t now, int64_t* local);

    bool IsCollecting() const { return collecting != 0; }
    int64_t MedianRoundTrip() const { return medianRoundTrip; }
    int64_t MedianTimeDifference() const { return medianTimeDifference; }
    uint32_t SampleCount() const { return sampleCount; }
    uint32_t OutstandingCount() const { return outstandingCount; }
    uint32_t LowestAccepted() const { return lowestAccepted; }

    static void EncodeFrame(uint8_t out[14], int64_t time, uint32_t sequence, bool request);

private:
    void SendRequest(Network::NetDriver& driver, int32_t peer, int64_t now);
    void AddSample(int64_t timeDifference, int64_t roundTrip);
    void RemoveOutstanding(uint32_t index);

    struct Outstanding {
        int64_t sendTime = 0;
        uint32_t sequence = 0;
    };

    uint8_t collecting = 1;
    int64_t medianRoundTrip = 0;
    int64_t medianTimeDifference = 0;
    Outstanding outstanding[5];
    uint32_t outstandingCount = 0;
    Sample samples[10];
    uint32_t sampleCount = 0;
    int64_t nextRequestTime = 0;  // counter ticks
    uint64_t lastHeaderTime = 0;
    uint32_t lastPacketId = 0;
    uint8_t lastPacketValid = 0;
    int64_t lastLocalTime = INT64_MIN;
    uint32_t nextSequence = 0;
    uint32_t lowestAccepted = 0;
};
