#pragma once
// The broker's side of a network connection's handshake, as a state machine fed the
// bytes the connection sends. On accepting, the broker sends Challenge(); the first frame
// must then be a kAuthAnswer holding HandshakeAnswer(secret, challenge). A wrong
// answer, any other first frame, or a frame announcing more than kMaxHandshakeFrame
// bytes rejects the connection. Bytes after the answer (the client's hello, sent without
// waiting) are kept for the ordinary frame reader.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/online/OnlineSocket.h"

namespace online {

class BrokerHandshake {
public:
    static constexpr size_t kMaxHandshakeFrame = 4096;
    enum class State { Waiting, Accepted, Rejected };

    BrokerHandshake(const std::string& secret, const uint8_t* challenge);
    // The frame to send first.
    std::vector<uint8_t> ChallengeFrame() const;
    State Feed(const uint8_t* data, size_t size);
    State Current() const { return state; }
    // Why it was rejected (for the log line).
    const char* Reason() const { return reason; }
    // Rejected for an answer of the right form made with another secret: the peer may be
    // told so (it learns nothing it did not know from the close).
    bool AnswerWasWrong() const { return wrongAnswer; }
    // Accepted: the bytes that followed the answer.
    std::vector<uint8_t> TakeLeftover();

private:
    std::array<uint8_t, kChallengeBytes> challenge{};
    std::array<uint8_t, kAnswerBytes> expected{};
    std::vector<uint8_t> pending;
    State state = State::Waiting;
    const char* reason = "";
    bool wrongAnswer = false;
};

}  // namespace online
