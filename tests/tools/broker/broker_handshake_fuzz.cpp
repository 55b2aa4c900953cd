// The broker's network handshake and what follows it. Each input is cut into chunks
// (first byte: the chunk size, 1 to 256) fed to one handshake; once it is accepted, the
// rest goes through a frame splitter into a BrokerCore session of a network connection,
// as the serving loop does. Seeds: the right answer followed by a hello, and wrong ones.
// test-link: broker_server
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/online/OnlineBroker.h"
#include "platform/online/OnlineSocket.h"
#include "platform/online/OnlineWire.h"
#include "tools/broker/BrokerTcp.h"

namespace {

const std::string kSecret = "the fuzzing broker's secret";
const uint8_t kChallenge[online::kChallengeBytes] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                                     17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};

struct Sink : online::BrokerOutput {
    size_t frames = 0;
    void Deliver(uint32_t, const online::SharedFrame&, online::OnlineId) override { ++frames; }
};

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "broker_handshake_fuzz: %s\n", what);
    std::abort();
}

std::vector<uint8_t> Answer(const std::string& secret) {
    const auto a = online::HandshakeAnswer(secret, kChallenge);
    online::wire::Writer w(online::wire::kAuthAnswer);
    w.Bytes(a.data(), a.size());
    return w.TakeFrame();
}

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    online::wire::Writer hello(online::wire::kHello);
    hello.U32(7).Text("Fuzz").U32(480).Text("english");
    online::wire::Writer lobby(online::wire::kCreateLobby);
    lobby.U64(1).I32(1).I32(2);
    for (uint8_t chunk : {1, 7, 64, 255}) {
        std::vector<uint8_t> in = {chunk};
        const std::vector<uint8_t> answer = Answer(kSecret);
        in.insert(in.end(), answer.begin(), answer.end());
        in.insert(in.end(), hello.Frame().begin(), hello.Frame().end());
        in.insert(in.end(), lobby.Frame().begin(), lobby.Frame().end());
        add(in.data(), in.size());
    }
    std::vector<uint8_t> wrong = {16};
    const std::vector<uint8_t> answer = Answer("another secret entirely");
    wrong.insert(wrong.end(), answer.begin(), answer.end());
    add(wrong.data(), wrong.size());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t chunk = size_t{data[0]} + 1;
    online::BrokerHandshake handshake(kSecret, kChallenge);
    Check(handshake.ChallengeFrame().size() == 4 + 1 + 4 + 4 + online::kChallengeBytes, "a challenge of another size");
    Sink sink;
    online::BrokerCore core(&sink);
    Check(core.Open("", online::StatsSchema(), nullptr), "the core did not open");
    const uint32_t session = core.AddSession(true);
    online::wire::FrameSplitter splitter;
    std::vector<uint8_t> body;
    bool open = true;
    auto frames = [&](const uint8_t* bytes, size_t n) {
        if (!splitter.Push(bytes, n)) {
            open = false;
            return;
        }
        while (open && splitter.Next(body))
            if (body[0] == online::wire::kControl || !core.Handle(session, body.data(), body.size())) open = false;
    };
    for (size_t at = 1; at < size && open;) {
        const size_t n = std::min(chunk, size - at);
        if (handshake.Current() == online::BrokerHandshake::State::Accepted) {
            frames(data + at, n);
        } else {
            const auto state = handshake.Feed(data + at, n);
            if (state == online::BrokerHandshake::State::Rejected) open = false;
            if (state == online::BrokerHandshake::State::Accepted) {
                const std::vector<uint8_t> rest = handshake.TakeLeftover();
                Check(rest.size() <= n, "more left over than was fed last");
                frames(rest.data(), rest.size());
            }
        }
        at += n;
    }
    core.RemoveSession(session);
    return 0;
}
