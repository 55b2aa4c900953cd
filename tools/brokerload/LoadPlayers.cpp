// Simulated players (see LoadPlayers.h). Every player belongs to one thread, which waits
// on all its sockets with one poller and, every couple of milliseconds, runs each
// player's timers (connecting, searching, frames, writes, the drop). Messages are built
// and read with the online layer's message encoders; records of callbacks are the online
// layer's own structures. A latency runs from the moment its request was handed to the
// socket to the moment its answer was read, each read from the clock there and then.
#include "tools/brokerload/LoadPlayers.h"

#include "platform/online/OnlineMessages.h"
#include "platform/online/OnlineSocket.h"
#include "platform/online/OnlineTypes.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

namespace brokerload {

using namespace online;
using namespace online::wire;

namespace {

constexpr int64_t kMs = 1000000;  // nanoseconds
constexpr int64_t kSecond = 1000 * kMs;
constexpr int64_t kSearchEvery = 5 * kSecond;
constexpr int64_t kPairFor = 60 * kSecond;
constexpr int64_t kFrameEvery = 50 * kMs;
constexpr int64_t kWriteEvery = 60 * kSecond;
constexpr int64_t kAnswerWithin = 10 * kSecond;
constexpr int64_t kSignInWithin = kTcpSignInMs * kMs;
constexpr int64_t kTickEvery = 2 * kMs;
constexpr uint32_t kFrameBytes = 200;
constexpr int kHostsPerHundred = 10;
constexpr int kDropsPerHundred = 1;
constexpr int64_t kExcuseWindow = kSecond;  // see LoadResult::framesExcused
// All players come from 127.0.0.1, and the broker keeps at most 256 handshakes of one
// address: more sign-ins at once would drop each other's handshakes, which players on
// many machines would not.
constexpr int kSignInsInFlight = 200;
constexpr const char* kBoard = "LoadScores";
// Two integer stats of the broker's schema.
constexpr const char* kStats[2] = {"MPSquadWinsNum", "MPTowersWinsNum"};

const char* const kErrorNames[kErrorKinds] = {"sign-in failed", "secret refused", "connection lost",
                                              "answer timed out", "request failed", "malformed answer"};

int64_t Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

uint32_t Micros(int64_t ns) { return static_cast<uint32_t>(std::clamp<int64_t>(ns / 1000, 0, UINT32_MAX)); }

// A small seeded generator per player (splitmix64).
struct Random {
    uint64_t state;
    uint64_t Next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int64_t Below(int64_t n) { return n > 0 ? static_cast<int64_t>(Next() % static_cast<uint64_t>(n)) : 0; }
};

enum class Link { Waiting, Connecting, Challenge, SigningIn, Ready, Done };
enum class Match { Idle, Creating, Open, Searching, Joining, Paired };

struct Player {
    uint32_t account = 0;
    bool host = false;
    Random random{0};
    int skill = 0;
    // Connection.
    Link link = Link::Waiting;
    int socket = -1;
    FrameSplitter splitter;
    std::vector<uint8_t> out;
    size_t outAt = 0;
    bool wantWrite = false;
    int64_t firstTry = 0;  // start of the sign-in (its latency), 0 when none runs
    int64_t nextTry = 0;
    int64_t retryDelay = kTcpRetryFirstMs * kMs;
    bool inFlight = false;
    uint32_t nextSequence = 1;
    uint32_t helloSequence = 0;
    uint32_t statsSequence = 0;
    uint64_t nextCall = 1;
    // Lobby.
    Match match = Match::Idle;
    OnlineId lobby = 0;
    OnlineId partner = 0;
    OnlineId joining = 0;
    OnlineId joiningOwner = 0;
    int64_t pairedUntil = 0;
    int64_t nextFrame = 0;
    // Frames sent in the current and the previous window of kExcuseWindow.
    int64_t frameWindowStart = 0;
    uint32_t framesThisWindow = 0, framesLastWindow = 0;
    int64_t nextSearch = 0;
    int64_t searchSent = 0;
    int64_t joinSent = 0;
    int64_t createSent = 0;
    bool partnerLeft = false;
    // Writes.
    uint64_t board = 0;
    int64_t boardSent = 0;
    int64_t nextWrite = 0;
    int64_t nextScore = 0;  // half a minute after the stats, so each is timed on its own
    int64_t statsSent = 0;
    int64_t scoreSent = 0;
    int64_t pageSent = 0;
    int64_t dropAt = 0;  // 0: never
};

class Worker {
public:
    Worker(const LoadPlan& plan, LoadGauges& gauges, int64_t start, int64_t end) : plan(plan), gauges(gauges), start(start), end(end) {}
    void Add(uint32_t index, PlayerRole role);
    void Run();
    LoadResult result;

private:
    void Tick(uint32_t tag, int64_t now);
    void Connect(uint32_t tag, int64_t now);
    void OnWritable(uint32_t tag, int64_t now);
    void OnReadable(uint32_t tag, int64_t now);
    void Handle(uint32_t tag, const std::vector<uint8_t>& body, int64_t now);
    void HandleEvent(Player& p, Reader& r, int64_t now);
    void SignedIn(Player& p, int64_t now);
    // Queues the frame and writes what the socket takes; the time it was handed over.
    int64_t Send(uint32_t tag, Writer w);
    void ExcuseRecentFrames(Player& p);
    void Flush(uint32_t tag);
    void Close(Player& p);
    void Lost(uint32_t tag, int64_t now);
    void RetrySignIn(Player& p, int64_t now, bool refused);
    void ResetMatch(Player& p);
    void StartPair(Player& p, OnlineId partner, int64_t now);
    void EndPair(uint32_t tag, int64_t now);
    void Error(ErrorKind kind) { ++result.errors[kind]; }
    bool Late(int64_t sent, int64_t now) const { return sent && now - sent > kAnswerWithin; }

    const LoadPlan& plan;
    LoadGauges& gauges;
    int64_t start, end;
    SocketPoller poller;
    std::vector<Player> players;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(64 * 1024);
    std::vector<uint8_t> body;
    int inFlight = 0;
    int inFlightLimit = 1;
};

void Worker::Add(uint32_t index, PlayerRole role) {
    Player p;
    p.account = plan.firstAccount + index;
    p.random.state = (static_cast<uint64_t>(plan.seed) << 32) ^ index;
    p.random.Next();
    p.host = role.host;
    p.skill = static_cast<int>(p.random.Below(1000));
    const int64_t ramp = std::min<int64_t>(10 * kSecond, (end - start) / 6);
    p.nextTry = start + ramp * static_cast<int64_t>(index) / std::max(plan.players, 1);
    if (role.drops) p.dropAt = start + ramp + p.random.Below((end - start) * 8 / 10 - ramp);
    players.push_back(std::move(p));
}

int64_t Worker::Send(uint32_t tag, Writer w) {
    Player& p = players[tag];
    if (p.socket < 0) return Now();
    const std::vector<uint8_t>& frame = w.Frame();
    if (p.outAt == p.out.size()) {
        p.out.clear();
        p.outAt = 0;
    }
    p.out.insert(p.out.end(), frame.begin(), frame.end());
    const int64_t handed = Now();
    Flush(tag);
    return handed;
}

void Worker::ExcuseRecentFrames(Player& p) {
    result.framesExcused += p.framesThisWindow + p.framesLastWindow;
    p.framesThisWindow = p.framesLastWindow = 0;
}

void Worker::Flush(uint32_t tag) {
    Player& p = players[tag];
    while (p.socket >= 0 && p.outAt < p.out.size()) {
        const long n = SocketSend(p.socket, p.out.data() + p.outAt, p.out.size() - p.outAt);
        if (n < 0) return;  // the read side sees the end and handles it
        if (n == 0) break;
        p.outAt += static_cast<size_t>(n);
    }
    const bool want = p.outAt < p.out.size();
    if (p.socket >= 0 && want != p.wantWrite && p.link != Link::Connecting) {
        p.wantWrite = want;
        poller.Change(p.socket, tag, want);
    }
}

void Worker::Close(Player& p) {
    if (p.socket >= 0) {
        poller.Remove(p.socket);
        SocketClose(p.socket);
    }
    p.socket = -1;
    p.splitter = FrameSplitter();
    p.out.clear();
    p.outAt = 0;
    p.wantWrite = false;
    if (p.inFlight) {
        p.inFlight = false;
        --inFlight;
    }
    if (p.link == Link::Ready) gauges.signedIn.fetch_sub(1, std::memory_order_relaxed);
    ResetMatch(p);
    p.statsSent = p.scoreSent = p.pageSent = p.boardSent = 0;
}

void Worker::ResetMatch(Player& p) {
    if (p.match == Match::Paired) gauges.paired.fetch_sub(1, std::memory_order_relaxed);
    p.match = Match::Idle;
    p.lobby = p.partner = p.joining = p.joiningOwner = 0;
    p.partnerLeft = false;
    p.searchSent = p.joinSent = p.createSent = 0;
}

void Worker::RetrySignIn(Player& p, int64_t now, bool refused) {
    Close(p);
    if (refused) ++result.refused;
    if (now - p.firstTry > kSignInWithin) {
        Error(kSignInFailed);
        p.firstTry = 0;
        p.retryDelay = kTcpRetryFirstMs * kMs;
    }
    p.link = Link::Waiting;
    p.nextTry = now + p.retryDelay - p.random.Below(p.retryDelay / 2);
    p.retryDelay = std::min<int64_t>(p.retryDelay * 2, kTcpRetryMostMs * kMs);
}

void Worker::Lost(uint32_t tag, int64_t now) {
    Player& p = players[tag];
    if (p.link == Link::Ready) {
        Error(kConnectionLost);
        Close(p);
        p.link = Link::Waiting;
        p.nextTry = now;
        return;
    }
    RetrySignIn(p, now, true);
}

void Worker::Connect(uint32_t tag, int64_t now) {
    Player& p = players[tag];
    if (!p.firstTry) p.firstTry = now;
    p.socket = ConnectTcpNonBlocking(plan.broker);
    if (p.socket < 0) {
        RetrySignIn(p, now, true);
        return;
    }
    p.link = Link::Connecting;
    p.inFlight = true;
    ++inFlight;
    poller.Add(p.socket, tag, true);
}

void Worker::OnWritable(uint32_t tag, int64_t now) {
    Player& p = players[tag];
    if (p.link != Link::Connecting) {
        Flush(tag);
        return;
    }
    if (ConnectionError(p.socket) != 0) {
        RetrySignIn(p, now, true);
        return;
    }
    p.link = Link::Challenge;
    p.wantWrite = false;
    poller.Change(p.socket, tag, false);
}

void Worker::OnReadable(uint32_t tag, int64_t now) {
    Player& p = players[tag];
    if (p.link == Link::Connecting) {
        OnWritable(tag, now);
        if (p.link != Link::Challenge) return;
    }
    for (int reads = 0; reads < 16 && p.socket >= 0; ++reads) {
        const long n = SocketReceive(p.socket, buffer.data(), buffer.size());
        if (n == 0) return;
        if (n < 0 || !p.splitter.Push(buffer.data(), static_cast<size_t>(n))) {
            if (n >= 0) Error(kMalformed);
            Lost(tag, now);
            return;
        }
        // Each message's own receipt time: a batch of them may take a while to handle.
        while (p.socket >= 0 && p.splitter.Next(body)) Handle(tag, body, Now());
    }
}

void Worker::SignedIn(Player& p, int64_t now) {
    result.signIn.push_back(Micros(now - p.firstTry));
    p.link = Link::Ready;
    p.firstTry = 0;
    p.retryDelay = kTcpRetryFirstMs * kMs;
    p.inFlight = false;
    --inFlight;
    gauges.signedIn.fetch_add(1, std::memory_order_relaxed);
    // The first writes come at a random time of the minute, then every minute.
    if (!p.nextWrite) {
        p.nextWrite = now + p.random.Below(kWriteEvery);
        const int64_t half = kWriteEvery / 2;
        p.nextScore = p.nextWrite - now < half ? p.nextWrite + half : p.nextWrite - half;
    }
    p.nextSearch = now + p.random.Below(kSearchEvery);
}

void Worker::StartPair(Player& p, OnlineId other, int64_t now) {
    p.match = Match::Paired;
    p.partner = other;
    p.pairedUntil = now + kPairFor;
    p.nextFrame = now + p.random.Below(kFrameEvery);
    p.frameWindowStart = now;
    p.framesThisWindow = p.framesLastWindow = 0;
    gauges.paired.fetch_add(1, std::memory_order_relaxed);
}

void Worker::EndPair(uint32_t tag, int64_t now) {
    Player& p = players[tag];
    Send(tag, EncodeLobbyId(kLeaveLobby, p.lobby));
    ResetMatch(p);
    p.nextSearch = now + kSearchEvery;
}

void Worker::Handle(uint32_t tag, const std::vector<uint8_t>& frame, int64_t now) {
    Player& p = players[tag];
    Reader r(frame.data(), frame.size());
    switch (r.MessageKind()) {
    case kChallenge: {
        const uint8_t* challenge = nullptr;
        if (p.link != Link::Challenge || !ReadChallenge(r, &challenge)) {
            Error(kMalformed);
            Lost(tag, now);
            return;
        }
        const auto answer = HandshakeAnswer(plan.secret, challenge);
        Send(tag, EncodeAuthAnswer(answer.data(), static_cast<uint32_t>(answer.size())));
        p.helloSequence = p.nextSequence++;
        Hello hello;
        hello.account = p.account;
        hello.persona = "Player " + std::to_string(p.account);
        hello.appId = 480;
        hello.language = "english";
        Send(tag, EncodeHello(p.helloSequence, hello));
        p.link = Link::SigningIn;
        return;
    }
    case kAuthRefused:
        Error(kSecretRefused);
        Close(p);
        p.link = Link::Done;
        return;
    case kReply: {
        if (r.Sequence() == p.helloSequence && p.link == Link::SigningIn) {
            HelloReply reply;
            if (!ReadHelloReply(r, &reply)) {
                Error(kMalformed);
                RetrySignIn(p, now, false);
            } else if (!reply.signedIn) {
                // Refused while the broker still holds this account's dropped connection.
                RetrySignIn(p, now, true);
            } else {
                SignedIn(p, now);
            }
        } else if (r.Sequence() == p.statsSequence && p.statsSent) {
            StoreStatsReply reply;
            if (!ReadStoreStatsReply(r, &reply)) Error(kMalformed);
            else if (reply.result != kResultOK) Error(kRequestFailed);
            else result.stats.push_back(Micros(now - p.statsSent));
            p.statsSent = 0;
        }
        return;
    }
    case kEvent:
        HandleEvent(p, r, now);
        if (p.partnerLeft) EndPair(tag, now);
        return;
    case kLobbyState: {
        // The snapshot that comes before the joiner's entry names the owner.
        if (p.match != Match::Joining) return;
        LobbySnapshot lobby;
        if (!ReadLobbySnapshot(r, &lobby) || !r.AtEnd()) Error(kMalformed);
        else if (lobby.id == p.joining) p.joiningOwner = lobby.owner;
        return;
    }
    case kLobbyListResult: {
        LobbyListResult list;
        if (!ReadLobbyListResult(r, &list)) {
            Error(kMalformed);
            return;
        }
        if (p.match != Match::Searching) return;
        result.search.push_back(Micros(now - p.searchSent));
        p.searchSent = 0;
        if (list.lobbies.empty()) {
            p.match = Match::Idle;
            return;
        }
        p.match = Match::Joining;
        p.joining = list.lobbies.front().id;
        p.joinSent = Send(tag, EncodeJoinLobby({p.nextCall++, p.joining}));
        return;
    }
    case kP2PPacket: {
        PeerFrame packet;
        if (!ReadPeerFrame(r, &packet) || packet.size != kFrameBytes) {
            Error(kMalformed);
            return;
        }
        int64_t sent = 0;
        std::memcpy(&sent, packet.data, sizeof sent);
        result.frame.push_back(Micros(now - sent));
        ++result.framesReceived;
        return;
    }
    case kLeaderboardInfo: {
        LeaderboardInfo info;
        if (!ReadLeaderboardInfo(r, &info)) Error(kMalformed);
        else if (!info.found || !info.board) Error(kRequestFailed);
        else p.board = info.board;
        p.boardSent = 0;
        return;
    }
    case kScoreUploaded: {
        ScoreUploaded uploaded;
        const bool read = ReadScoreUploaded(r, &uploaded);
        if (!p.scoreSent) return;
        if (!read) Error(kMalformed);
        else if (!uploaded.success) Error(kRequestFailed);
        else result.score.push_back(Micros(now - p.scoreSent));
        p.scoreSent = 0;
        return;
    }
    case kEntries: {
        Entries entries;
        if (!ReadEntries(r, &entries)) Error(kMalformed);
        else if (p.pageSent) result.page.push_back(Micros(now - p.pageSent));
        p.pageSent = 0;
        return;
    }
    default:
        return;  // lobby updates, user info and the like: nothing to do
    }
}

void Worker::HandleEvent(Player& p, Reader& r, int64_t now) {
    EventMessage event;
    if (!ReadEvent(r, &event)) {
        Error(kMalformed);
        return;
    }
    const uint32_t expected = CallbackRecordSize(event.callbackId);
    if (event.size != expected) {
        if (expected) Error(kMalformed);
        return;
    }
    const uint8_t* record = event.record;
    const uint32_t tag = static_cast<uint32_t>(&p - players.data());
    switch (event.callbackId) {
    case LobbyCreated::kCallbackId: {
        LobbyCreated created;
        std::memcpy(&created, record, sizeof created);
        if (p.match != Match::Creating) return;
        p.createSent = 0;
        if (created.result != kResultOK) {
            Error(kRequestFailed);
            p.match = Match::Idle;
            return;
        }
        p.lobby = created.lobby;
        p.match = Match::Open;
        Send(tag, EncodeLobbyData(kSetLobbyData, {p.lobby, "mode", "versus"}));
        Send(tag, EncodeLobbyData(kSetLobbyData, {p.lobby, "skill", std::to_string(p.skill)}));
        return;
    }
    case LobbyEnter::kCallbackId: {
        LobbyEnter enter;
        std::memcpy(&enter, record, sizeof enter);
        if (p.match != Match::Joining || enter.lobby != p.joining) return;
        p.joinSent = 0;
        if (enter.response != kEnterSuccess || !p.joiningOwner) {
            ResetMatch(p);  // taken by another: search again at the next turn
            return;
        }
        p.lobby = p.joining;
        StartPair(p, p.joiningOwner, now);
        return;
    }
    case LobbyChatUpdate::kCallbackId: {
        LobbyChatUpdate update;
        std::memcpy(&update, record, sizeof update);
        if (update.lobby != p.lobby) return;
        if (p.match == Match::Open && (update.changeFlags & kMemberEntered)) {
            StartPair(p, update.userChanged, now);
        } else if (p.match == Match::Paired && update.userChanged == p.partner &&
                   (update.changeFlags & (kMemberLeft | kMemberDisconnected))) {
            // Frames on their way to a partner that dropped are lost with its connection.
            if (update.changeFlags & kMemberDisconnected) ExcuseRecentFrames(p);
            p.partnerLeft = true;  // the caller leaves too
        }
        return;
    }
    default:
        return;
    }
}

void Worker::Tick(uint32_t tag, int64_t now) {
    Player& p = players[tag];
    switch (p.link) {
    case Link::Done:
        return;
    case Link::Waiting:
        if (now >= p.nextTry && inFlight < inFlightLimit) Connect(tag, now);
        return;
    case Link::Connecting:
    case Link::Challenge:
    case Link::SigningIn:
        if (now - p.firstTry > kSignInWithin) RetrySignIn(p, now, false);
        return;
    case Link::Ready:
        break;
    }
    if (p.dropAt && now >= p.dropAt) {
        // Gone without a goodbye; back a second later.
        p.dropAt = 0;
        ++result.drops;
        ExcuseRecentFrames(p);  // they may still sit in this side's socket
        Close(p);
        p.link = Link::Waiting;
        p.nextTry = now + kSecond;
        return;
    }
    if (!p.board && !p.boardSent) p.boardSent = Send(tag, EncodeFindLeaderboard({p.nextCall++, kBoard}));
    if (p.host && p.match == Match::Idle) {
        p.match = Match::Creating;
        p.createSent = Send(tag, EncodeCreateLobby({p.nextCall++, kLobbyPublic, 2}));
    } else if (!p.host && p.match == Match::Idle && now >= p.nextSearch) {
        p.match = Match::Searching;
        p.nextSearch = now + kSearchEvery;
        LobbyListRequest search;
        search.call = p.nextCall++;
        search.strings.push_back({"mode", "versus", kCompareEqual});
        search.near.push_back({"skill", p.skill});
        search.resultCount = 1;
        p.searchSent = Send(tag, EncodeLobbyList(search));
    }
    if (p.match == Match::Paired) {
        if (now >= p.pairedUntil) {
            EndPair(tag, now);
        } else {
            if (p.nextFrame < now - kFrameEvery) p.nextFrame = now;  // a late thread does not burst
            if (now - p.frameWindowStart >= kExcuseWindow) {
                p.framesLastWindow = p.framesThisWindow;
                p.framesThisWindow = 0;
                p.frameWindowStart = now;
            }
            while (p.nextFrame <= now) {
                uint8_t data[kFrameBytes];
                std::memset(data, static_cast<int>(p.account), sizeof data);
                const int64_t stamp = Now();
                std::memcpy(data, &stamp, sizeof stamp);
                Send(tag, EncodePeerFrame(kP2PSend, {p.partner, false, 0, data, kFrameBytes}));
                ++result.framesSent;
                if (end - now <= kExcuseWindow) ++result.framesExcused;
                else ++p.framesThisWindow;
                p.nextFrame += kFrameEvery;
            }
        }
    }
    if (now >= p.nextWrite) {
        p.nextWrite += kWriteEvery;
        if (!p.statsSent) {
            p.statsSequence = p.nextSequence++;
            StoreStats stats;
            for (const char* name : kStats) stats.stats.push_back({name, 0, static_cast<uint32_t>(p.random.Below(1000))});
            p.statsSent = Send(tag, EncodeStoreStats(p.statsSequence, stats));
        }
    }
    if (now >= p.nextScore) {
        p.nextScore += kWriteEvery;
        if (p.board && !p.scoreSent) {
            // Forced, so that every upload is a write (keeping the best writes only the better).
            UploadScore score{p.nextCall++, p.board, kUploadForceUpdate, static_cast<int32_t>(p.random.Below(100000)), {}};
            p.scoreSent = Send(tag, EncodeUploadScore(score));
        }
        if (p.board && !p.pageSent) p.pageSent = Send(tag, EncodeDownloadEntries({p.nextCall++, p.board, kLeaderboardGlobal, 1, 10}));
    }
    // Answers that never came.
    int64_t* waits[] = {&p.statsSent, &p.scoreSent, &p.pageSent, &p.boardSent, &p.searchSent, &p.joinSent, &p.createSent};
    for (int64_t* sent : waits) {
        if (!Late(*sent, now)) continue;
        Error(kRequestTimedOut);
        *sent = 0;
        if (sent == &p.searchSent || sent == &p.joinSent || sent == &p.createSent) ResetMatch(p);
    }
}

void Worker::Run() {
    inFlightLimit = std::max(1, kSignInsInFlight / std::max(plan.threads, 1));
    std::vector<SocketPoller::Event> events(SocketPoller::kMaxEventsPerWait);
    int64_t nextTick = 0;
    for (int64_t now = Now(); now < end; now = Now()) {
        const size_t n = poller.Wait(events, 1);
        now = Now();
        for (size_t i = 0; i < n; ++i) {
            const uint32_t tag = events[i].tag;
            if (players[tag].socket < 0) continue;
            if (events[i].writable) OnWritable(tag, now);
            if (events[i].readable && players[tag].socket >= 0) OnReadable(tag, now);
        }
        if (now >= nextTick) {
            for (uint32_t tag = 0; tag < players.size(); ++tag) Tick(tag, now);
            nextTick = now + kTickEvery;
        }
    }
    for (Player& p : players) {
        Close(p);
        p.link = Link::Done;
    }
}

}  // namespace

const char* ErrorName(ErrorKind kind) { return kErrorNames[kind]; }

std::vector<PlayerRole> DrawRoles(int players, uint32_t seed) {
    const size_t n = static_cast<size_t>(std::max(players, 0));
    std::vector<PlayerRole> roles(n);
    if (n == 0) return roles;
    Random random{(static_cast<uint64_t>(seed) << 32) ^ 0x726F6C65u};
    // The first `count` of a seeded shuffle of the players, drawn anew for each role so
    // that a host may drop too.
    const auto draw = [&](size_t count, bool PlayerRole::*role) {
        std::vector<uint32_t> order(n);
        for (size_t i = 0; i < n; ++i) order[i] = static_cast<uint32_t>(i);
        for (size_t i = 0; i < count; ++i) {
            std::swap(order[i], order[i + static_cast<size_t>(random.Below(static_cast<int64_t>(n - i)))]);
            roles[order[i]].*role = true;
        }
    };
    if (n == 1) {
        roles[0].host = true;  // nobody to search for its lobby either way
        return roles;
    }
    draw(std::clamp<size_t>((n * kHostsPerHundred + 50) / 100, 1, n - 1), &PlayerRole::host);
    draw(std::max<size_t>(n * kDropsPerHundred / 100, 1), &PlayerRole::drops);
    return roles;
}

uint64_t LoadResult::Errors() const {
    uint64_t n = 0;
    for (uint64_t e : errors) n += e;
    return n;
}

void LoadResult::Merge(LoadResult&& other) {
    auto append = [](std::vector<uint32_t>& to, std::vector<uint32_t>& from) { to.insert(to.end(), from.begin(), from.end()); };
    append(signIn, other.signIn);
    append(search, other.search);
    append(frame, other.frame);
    append(stats, other.stats);
    append(score, other.score);
    append(page, other.page);
    framesSent += other.framesSent;
    framesReceived += other.framesReceived;
    framesExcused += other.framesExcused;
    refused += other.refused;
    drops += other.drops;
    for (int k = 0; k < kErrorKinds; ++k) errors[k] += other.errors[k];
}

LoadResult RunPlayers(const LoadPlan& plan, LoadGauges& gauges, const std::function<void()>& sample) {
    const int threads = std::clamp(plan.threads, 1, std::max(plan.players, 1));
    const int64_t start = Now();
    const int64_t end = start + static_cast<int64_t>(plan.seconds * kSecond);
    std::vector<std::unique_ptr<Worker>> workers;
    for (int t = 0; t < threads; ++t) workers.push_back(std::make_unique<Worker>(plan, gauges, start, end));
    const std::vector<PlayerRole> roles = DrawRoles(plan.players, plan.seed);
    for (int i = 0; i < plan.players; ++i) workers[i % threads]->Add(static_cast<uint32_t>(i), roles[i]);
    std::vector<std::thread> running;
    for (auto& w : workers) running.emplace_back([&w] { w->Run(); });
    while (Now() < end) {
        sample();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    for (std::thread& t : running) t.join();
    LoadResult result;
    for (auto& w : workers) result.Merge(std::move(w->result));
    return result;
}

}  // namespace brokerload
