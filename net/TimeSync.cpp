// Time synchronisation with one peer.
//
// While fewer than 10 samples are held, the periodic step sends a request: on every
// wake before the first sample (at most 5 outstanding), then every 0.5 to 1.5 s. A
// response gives a sample: round trip = now - send time; time difference = now -
// round trip / 2 - the peer's time. The medians of the samples (mean of the two middle
// values for an even count) map a packet's header time to local time, clamped to
// [the previous packet's local time, now].
#include "net/TimeSync.h"

#include <algorithm>
#include <cstring>

#include "core/CrtRand.h"
#include "core/Log.h"
#include "core/Time.h"
#include "net/base/NetConstants.h"
#include "net/base/NetDriver.h"

namespace {

int64_t SaturatingSub(int64_t a, int64_t b) {
    int64_t r;
    if (__builtin_sub_overflow(a, b, &r)) return b < 0 ? INT64_MAX : INT64_MIN;
    return r;
}

int64_t SaturatingAdd(int64_t a, int64_t b) {
    int64_t r;
    if (__builtin_add_overflow(a, b, &r)) return b > 0 ? INT64_MAX : INT64_MIN;
    return r;
}

// (a + b) / 2 without overflow, truncated toward zero like the plain form.
int64_t Midpoint(int64_t a, int64_t b) {
    const __int128 sum = static_cast<__int128>(a) + b;
    return static_cast<int64_t>(sum / 2);
}

}  // namespace

void TimeSync::EncodeFrame(uint8_t out[14], int64_t time, uint32_t sequence, bool request) {
    out[0] = kTimeSyncFrameType;
    std::memcpy(out + 1, &time, 8);
    std::memcpy(out + 9, &sequence, 4);
    out[13] = request ? 1 : 0;
}

void TimeSync::Restart(int64_t counterNow) {
    *this = TimeSync();
    nextRequestTime = counterNow;
}

void TimeSync::Update(Network::NetDriver& driver, int32_t peer, int64_t now, int64_t counterNow) {
    if (!collecting) return;
    if (sampleCount >= 1 && counterNow <= nextRequestTime) return;
    SendRequest(driver, peer, now);
    const double r = CrtRand();
    nextRequestTime = counterNow + Time::FromSeconds(r / 32767.0 + 0.5).ticks;
}

void TimeSync::RemoveOutstanding(uint32_t index) {
    outstanding[index] = outstanding[outstandingCount - 1];
    --outstandingCount;
}

void TimeSync::SendRequest(Network::NetDriver& driver, int32_t peer, int64_t now) {
    for (uint32_t i = 0; i < outstandingCount;) {
        if (outstanding[i].sequence < lowestAccepted || SaturatingSub(now, outstanding[i].sendTime) > kTimeSyncExpiryUs)
            RemoveOutstanding(i);
        else
            ++i;
    }
    if (outstandingCount >= kTimeSyncMaxOutstanding) return;
    outstanding[outstandingCount++] = {now, nextSequence};
    uint8_t frame[kTimeSyncFrameBytes];
    EncodeFrame(frame, now, nextSequence, true);
    ++nextSequence;
    driver.Send(peer, frame, kTimeSyncFrameBytes, NETFRAME_TIME_SYNC);
}

void TimeSync::OnFrame(Network::NetDriver& driver, int32_t peer, const uint8_t* frame, uint32_t length, int64_t now) {
    if (!frame || length < kTimeSyncFrameBytes) return;
    int64_t peerTime;
    uint32_t sequence;
    std::memcpy(&peerTime, frame + 1, 8);
    std::memcpy(&sequence, frame + 9, 4);
    if (frame[13] == 1) {
        uint8_t answer[kTimeSyncFrameBytes];
        EncodeFrame(answer, now, sequence, false);
        driver.Send(peer, answer, kTimeSyncFrameBytes, NETFRAME_TIME_SYNC);
        return;
    }
    if (sequence < lowestAccepted) return;
    uint32_t index = 0;
    while (index < outstandingCount && outstanding[index].sequence != sequence) ++index;
    if (index == outstandingCount) return;  // answers nothing we asked: the bound stays
    lowestAccepted = sequence == UINT32_MAX ? sequence : sequence + 1;
    if (sampleCount < kTimeSyncSamples) {
        const int64_t roundTrip = SaturatingSub(now, outstanding[index].sendTime);
        __int128 difference = static_cast<__int128>(now) - roundTrip / 2 - peerTime;
        if (difference >= INT64_MIN && difference <= INT64_MAX && roundTrip != INT64_MIN && roundTrip != INT64_MAX) {
            AddSample(static_cast<int64_t>(difference), roundTrip);
            if (sampleCount == kTimeSyncSamples) collecting = 0;
        }
    }
    RemoveOutstanding(index);
}

void TimeSync::AddSample(int64_t timeDifference, int64_t roundTrip) {
    samples[sampleCount++] = {timeDifference, roundTrip};
    const uint32_t n = sampleCount;
    int64_t values[kTimeSyncSamples] = {};
    for (uint32_t i = 0; i < n; ++i) values[i] = samples[i].timeDifference;
    std::sort(values, values + n);
    medianTimeDifference = Midpoint(values[(n - 1) / 2], values[n / 2]);
    for (uint32_t i = 0; i < n; ++i) values[i] = samples[i].roundTrip;
    std::sort(values, values + n);
    medianRoundTrip = Midpoint(values[(n - 1) / 2], values[n / 2]);
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer,
               "TimeSync medRoundTripUS:%lld medTimeDiffUS:%lld roundTripUS:%lld timeDiffUS:%lld", (long long)medianRoundTrip,
               (long long)medianTimeDifference, (long long)roundTrip, (long long)timeDifference);
}

bool TimeSync::MapPacketTime(uint64_t headerTime, uint16_t packetId, int64_t now, int64_t* local) {
    if (lastPacketValid && headerTime < lastHeaderTime) {
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer,
                   "Invalid update packetServerTimeUS:%lld lastServerTimeUS:%lld packetID:%d lastPacketID:%d",
                   (long long)headerTime, (long long)lastHeaderTime, int(packetId), int(lastPacketId));
        return false;
    }
    lastHeaderTime = headerTime;
    lastPacketId = packetId;
    lastPacketValid = 1;
    const int64_t t = headerTime > uint64_t(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(headerTime);
    int64_t mapped = SaturatingAdd(t, medianTimeDifference);
    if (mapped < lastLocalTime) mapped = lastLocalTime;
    if (mapped > now) mapped = now;
    // Times are network times: a peer's early packets (header time 0, before its first
    // frame) mapped behind zero would make calls wait on an unsigned due time for ever.
    if (mapped < 0) mapped = 0;
    lastLocalTime = mapped;
    *local = mapped;
    return true;
}
