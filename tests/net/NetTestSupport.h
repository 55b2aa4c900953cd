#pragma once
// Helpers shared by the multiplayer tests: hex text, the independent wire-format script
// (tests/support/netbits.py) and a game delegate that records what it is told.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/delegate/GameDelegate.h"
#include "engine/script/MPMethodCall.h"

namespace nettest {

inline std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> out;
    if (hex == "-") return out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

inline std::string ToHex(const uint8_t* data, size_t n) {
    static const char* d = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += d[data[i] >> 4];
        s += d[data[i] & 15];
    }
    return s;
}

// The lines netbits.py prints for a command ("cases 300 7"); empty when python3 fails.
inline std::vector<std::string> RunNetbits(const std::string& arguments) {
    std::vector<std::string> lines;
    const std::string command = "/usr/bin/python3 " PROJECT_SOURCE_ROOT "/tests/support/netbits.py " + arguments;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return lines;
    std::string line;
    char buffer[4096];
    while (fgets(buffer, sizeof buffer, p)) {
        line += buffer;
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
            lines.push_back(line);
            line.clear();
        }
    }
    if (pclose(p) != 0) lines.clear();
    return lines;
}

// Everything the multiplayer engine tells the game, in order, as text.
class RecordingDelegate : public GameDelegate {
public:
    std::vector<std::string> events;
    std::vector<MPMethodCall> calls;
    std::vector<void*> callers;
    std::vector<std::u16string> chat;
    bool acceptConnections = true;

    void OnChatMessage(bool lobby, int32_t kind, const char16_t* text) override {
        events.push_back("chat " + std::to_string(lobby) + " " + std::to_string(kind));
        chat.push_back(text ? std::u16string(text) : std::u16string());
    }
    void OnLobbyUpdated() override { events.push_back("lobby updated"); }
    void OnLobbyJoinRequested() override { events.push_back("lobby join requested"); }
    void OnLobbyGameStartRequest(uint32_t v, bool a, bool b) override {
        events.push_back("lobby start " + std::to_string(v) + " " + std::to_string(a) + " " + std::to_string(b));
    }
    void OnLobbyError(int32_t e) override { events.push_back("lobby error " + std::to_string(e)); }
    void OnGameHosted(int32_t r) override { events.push_back("hosted " + std::to_string(r)); }
    void OnGameJoined(int32_t r) override { events.push_back("joined " + std::to_string(r)); }
    void OnGameDisconnected(int32_t r) override { events.push_back("disconnected " + std::to_string(r)); }
    bool OnPlayerConnecting() override {
        events.push_back("connecting");
        return acceptConnections;
    }
    void OnPlayerConnected(Player*) override { events.push_back("player connected"); }
    void OnPlayerReady(Player*) override { events.push_back("player ready"); }
    void OnPlayerDisconnected(Player*, uint32_t r) override { events.push_back("player disconnected " + std::to_string(r)); }
    void OnPlayerConnectionStall(Player*) override { events.push_back("stall"); }
    void OnPlayerConnectionResume(Player*) override { events.push_back("resume"); }
    void OnReplicatedMethodCall(Player* player, const MPMethodCall* call) override {
        events.push_back("call " + std::to_string(call->methodId));
        calls.push_back(*call);
        callers.push_back(player);
    }
    bool Has(const std::string& e) const {
        for (const auto& x : events)
            if (x == e) return true;
        return false;
    }
};

}  // namespace nettest
