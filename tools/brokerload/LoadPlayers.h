#pragma once
// Simulated players of the online broker, many per thread on non-blocking sockets.
//
// Each player signs in over TCP with its own account and persona (the network handshake
// first), and then, seeded by the plan:
// - one in ten hosts (drawn from the seed): it creates a public lobby of two places with lobby data ("mode"
//   and its "skill"); the others search every 5 s for the open lobby nearest their own
//   skill and join it;
// - the two members of a lobby send each other a 200-byte peer-to-peer frame 20 times a
//   second for 60 s, then leave (the host opens a new lobby, the other searches again);
//   a member whose partner leaves or drops leaves too;
// - every player writes two stats and one leaderboard score a minute and reads the
//   first page of that leaderboard;
// - one in a hundred, hosts too (drawn from the seed), drops its connection once
//   without a goodbye and comes back.
// With two players or more, at least one hosts, one searches and one drops.
// Sign-ins that the broker refuses or drops try again with back-off for up to 10 s, as
// the online client does.
//
// RunPlayers owns its threads: it returns when the plan's time is over and every
// socket is closed.
#include "platform/online/OnlinePoller.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace brokerload {

struct LoadPlan {
    online::TcpAddress broker;  // resolved once, before the players start
    std::string secret;
    int players = 100;
    double seconds = 90;
    int threads = 4;
    uint32_t seed = 1;
    uint32_t firstAccount = 1;  // players take accounts firstAccount, firstAccount + 1, ...
};

enum ErrorKind {
    kSignInFailed,     // not signed in within 10 s of trying
    kSecretRefused,    // the broker refused the handshake's answer
    kConnectionLost,   // the broker closed a signed-in player's connection
    kRequestTimedOut,  // an answer did not come within 10 s
    kRequestFailed,    // an answer reported a failure (a lobby not created, a write not done)
    kMalformed,        // a message the player could not read
    kErrorKinds
};
const char* ErrorName(ErrorKind kind);

struct PlayerRole {
    bool host = false;
    bool drops = false;
};
// Each player's role, drawn from the seed.
std::vector<PlayerRole> DrawRoles(int players, uint32_t seed);

struct LoadResult {
    // Latencies in microseconds.
    std::vector<uint32_t> signIn, search, frame, stats, score, page;
    uint64_t framesSent = 0;
    uint64_t framesReceived = 0;
    // Frames that may rightly be lost: sent in the step's last second (still on their way
    // at its end), by a player in the second or two before it dropped, and to a partner
    // in the second or two before its leaving or dropping was known.
    uint64_t framesExcused = 0;
    uint64_t refused = 0;  // connections refused or dropped by the broker before the sign-in
    uint64_t drops = 0;    // deliberate drops without a goodbye
    uint64_t errors[kErrorKinds] = {};
    uint64_t Errors() const;
    void Merge(LoadResult&& other);
};

// Live counts, read while the players run.
struct LoadGauges {
    std::atomic<int> signedIn{0};
    std::atomic<int> paired{0};  // players in a lobby of two, sending frames
};

// Runs the plan; sample is called from the calling thread about twice a second.
LoadResult RunPlayers(const LoadPlan& plan, LoadGauges& gauges, const std::function<void()>& sample);

}  // namespace brokerload
