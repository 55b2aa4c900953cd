// The network handshake of the broker (see BrokerTcp.h).
#include "tools/broker/BrokerTcp.h"

#include <cstring>

#include "platform/online/OnlineWire.h"

namespace online {

BrokerHandshake::BrokerHandshake(const std::string& secret, const uint8_t* bytes) {
    std::memcpy(challenge.data(), bytes, kChallengeBytes);
    bool ok = false;
    expected = HandshakeAnswer(secret, challenge.data(), &ok);
    if (!ok) {
        reason = "an answer the broker could not compute";
        state = State::Rejected;
    }
}

std::vector<uint8_t> BrokerHandshake::ChallengeFrame() const {
    wire::Writer w(wire::kChallenge);
    w.Bytes(challenge.data(), challenge.size());
    return w.TakeFrame();
}

BrokerHandshake::State BrokerHandshake::Feed(const uint8_t* data, size_t size) {
    if (state != State::Waiting) return state;
    // Never hold more than one handshake frame and its length.
    const size_t room = kMaxHandshakeFrame + 4 - std::min(pending.size(), kMaxHandshakeFrame + 4);
    pending.insert(pending.end(), data, data + std::min(size, room));
    if (pending.size() < 4) return state;
    uint32_t length = 0;
    std::memcpy(&length, pending.data(), 4);
    if (length == 0 || length > kMaxHandshakeFrame) {
        reason = "a first frame over 4 KiB";
        return state = State::Rejected;
    }
    if (pending.size() < 4 + size_t{length}) {
        if (size > room) {  // cannot happen: the frame fits the buffer
            reason = "a first frame over 4 KiB";
            return state = State::Rejected;
        }
        return state;
    }
    wire::Reader r(pending.data() + 4, length);
    uint32_t n = 0;
    const uint8_t* answer = r.Bytes(kAnswerBytes, &n);
    if (r.MessageKind() != wire::kAuthAnswer || r.Failed() || !r.AtEnd() || n != kAnswerBytes) {
        reason = "another first frame than the answer";
        return state = State::Rejected;
    }
    if (!ConstantTimeEqual(answer, expected.data(), kAnswerBytes)) {
        reason = "a wrong answer";
        wrongAnswer = true;
        return state = State::Rejected;
    }
    // What followed the answer in this read and the bytes not yet taken.
    std::vector<uint8_t> rest(pending.begin() + 4 + length, pending.end());
    if (size > room) rest.insert(rest.end(), data + room, data + size);
    pending = std::move(rest);
    return state = State::Accepted;
}

std::vector<uint8_t> BrokerHandshake::TakeLeftover() {
    std::vector<uint8_t> out;
    out.swap(pending);
    return out;
}

}  // namespace online
