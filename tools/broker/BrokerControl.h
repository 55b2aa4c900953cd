#pragma once
// The broker program's control commands: administration of the durable state. They
// reach a running broker as a control message (wire::kControl: text command, bytes
// argument; the reply holds u8 ok and the answer's bytes), sent by "online_broker ctl"
// through ControlBroker; tests run them on a store directly.
//
//   "seed" text: lines "user <account> <persona>", "friends <a> <b>",
//                "leaderboard <name> ascending|descending", "score <board> <account> <score> [details]"
//   "stats" <account>: JSON object {"stats":{...},"achievements":{...}}
//   "leaderboard" <name>: lines "<rank> <account> <score>", as many as one answer holds
//   "file" <account>/<name>: the file's bytes
//   "stop": the broker program exits (the serving loop handles it)
#include <cstdint>
#include <string>

namespace online {

class BrokerStore;

constexpr uint32_t kMaxControlCommand = 64;

// Runs one command other than "stop". False when it is refused; *answer then holds the
// reason where there is one.
bool RunControl(BrokerStore& store, const std::string& command, const std::string& argument, std::string* answer);

// Sends one command to the broker listening in folder (a short-lived connection) and
// waits up to five seconds for its answer.
bool ControlBroker(const std::string& folder, const std::string& command, const std::string& argument,
                   std::string* answer, std::string* error);

}  // namespace online
