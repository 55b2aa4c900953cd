// Simulated players (see LoadPlayers.h). Every player belongs to one thread, which waits
// on all its sockets with one poller and, every couple of milliseconds, runs each
// player's timers (connecting, searching, frames, writes, the drop). Messages are built
// and read with the online layer's wire writer and reader; records of callbacks are the
// online layer's own structures.
#include "tools/brokerload/LoadPlayers.h"

#include "platform/online/OnlineSocket.h"
#include "platform/online/OnlineTypes.h"
#include "platform/online/OnlineWire.h"
#include "tools/brokerload/LoadSystem.h"

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
    int64_t nextSearch = 0;
    int64_t searchSent = 0;
    int64_t joinSent = 0;
    int64_t createSent = 0;
    bool partnerLeft = false;
    // Writes.
    uint64_t board = 0;
    int64_t boardSent = 0;
    int64_t nextWrite = 0;
    int64_t statsSent = 0;
    int64_t scoreSent = 0;
    int64_t pageSent = 0;
    int64_t dropAt = 0;  // 0: never
};

class Worker {
public:
    Worker(const LoadPlan& plan, LoadGauges& gauges, int64_t start, int64_t end) : plan(plan), gauges(gauges), start(start), end(end) {}
    void Add(uint32_t index);
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
    void Send(uint32_t tag, Writer& w);
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
    Poller poller;
    std::vector<Player> players;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(64 * 1024);
    std::vector<uint8_t> body;
    int inFlight = 0;
    int inFlightLimit = 1;
};

void Worker::Add(uint32_t index) {
    Player p;
    p.account = plan.firstAccount + index;
    p.random.state = (static_cast<uint64_t>(plan.seed) << 32) ^ index;
    p.random.Next();
    // Exact shares of hosts and of players who drop; their skills and times are seeded.
    p.host = index % 100 < kHostsPerHundred;
    p.skill = static_cast<int>(p.random.Below(1000));
    const int64_t ramp = std::min<int64_t>(10 * kSecond, (end - start) / 6);
    p.nextTry = start + ramp * static_cast<int64_t>(index) / std::max(plan.players, 1);
    if (index % 100 >= 100 - kDropsPerHundred) p.dropAt = start + ramp + p.random.Below((end - start) * 8 / 10 - ramp);
    players.push_back(std::move(p));
}

void Worker::Send(uint32_t tag, Writer& w) {
    Player& p = players[tag];
    if (p.socket < 0) return;
    const std::vector<uint8_t>& frame = w.Frame();
    if (p.outAt == p.out.size()) {
        p.out.clear();
        p.outAt = 0;
    }
    p.out.insert(p.out.end(), frame.begin(), frame.end());
    Flush(tag);
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
    p.socket = ConnectTcp(plan.address, plan.port);
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
    if (ConnectError(p.socket) != 0) {
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
        while (p.socket >= 0 && p.splitter.Next(body)) Handle(tag, body, now);
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
    if (!p.nextWrite) p.nextWrite = now + p.random.Below(kWriteEvery);
    p.nextSearch = now + p.random.Below(kSearchEvery);
}

void Worker::StartPair(Player& p, OnlineId other, int64_t now) {
    p.match = Match::Paired;
    p.partner = other;
    p.pairedUntil = now + kPairFor;
    p.nextFrame = now + p.random.Below(kFrameEvery);
    gauges.paired.fetch_add(1, std::memory_order_relaxed);
}

void Worker::EndPair(uint32_t tag, int64_t now) {
    Player& p = players[tag];
    Writer leave(kLeaveLobby);
    leave.U64(p.lobby);
    Send(tag, leave);
    ResetMatch(p);
    p.nextSearch = now + kSearchEvery;
}

void Worker::Handle(uint32_t tag, const std::vector<uint8_t>& frame, int64_t now) {
    Player& p = players[tag];
    Reader r(frame.data(), frame.size());
    switch (r.MessageKind()) {
    case kChallenge: {
        uint32_t n = 0;
        const uint8_t* challenge = r.Bytes(kChallengeBytes, &n);
        if (p.link != Link::Challenge || r.Failed() || n != kChallengeBytes) {
            Error(kMalformed);
            Lost(tag, now);
            return;
        }
        const auto answer = HandshakeAnswer(plan.secret, challenge);
        Writer w(kAuthAnswer);
        w.Bytes(answer.data(), answer.size());
        Send(tag, w);
        p.helloSequence = p.nextSequence++;
        const std::string persona = "Player " + std::to_string(p.account);
        Writer hello(kHello, p.helloSequence);
        hello.U32(p.account).Text(persona).U32(480).Text("english");
        Send(tag, hello);
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
            // Refused while the broker still holds this account's dropped connection.
            if (!r.U8()) RetrySignIn(p, now, true);
            else SignedIn(p, now);
        } else if (r.Sequence() == p.statsSequence && p.statsSent) {
            const uint32_t stored = r.U32();
            if (r.Failed() || stored != kResultOK) Error(kRequestFailed);
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
        const OnlineId id = r.U64();
        r.I32();
        r.I32();
        r.U8();
        const OnlineId owner = r.U64();
        if (!r.Failed() && id == p.joining) p.joiningOwner = owner;
        return;
    }
    case kLobbyListResult: {
        r.U64();
        const uint32_t n = r.U32();
        const OnlineId first = n ? r.U64() : 0;
        if (r.Failed() || p.match != Match::Searching) {
            if (r.Failed()) Error(kMalformed);
            return;
        }
        result.search.push_back(Micros(now - p.searchSent));
        p.searchSent = 0;
        if (!first) {
            p.match = Match::Idle;
            return;
        }
        p.match = Match::Joining;
        p.joining = first;
        p.joinSent = now;
        Writer join(kJoinLobby);
        join.U64(p.nextCall++).U64(first);
        Send(tag, join);
        return;
    }
    case kP2PPacket: {
        r.U64();
        r.U8();
        r.I32();
        uint32_t n = 0;
        const uint8_t* data = r.Bytes(kMaxUnreliablePacket, &n);
        if (r.Failed() || n != kFrameBytes) {
            Error(kMalformed);
            return;
        }
        int64_t sent = 0;
        std::memcpy(&sent, data, sizeof sent);
        result.frame.push_back(Micros(now - sent));
        ++result.framesReceived;
        return;
    }
    case kLeaderboardInfo: {
        r.U64();
        const uint64_t board = r.U64();
        if (r.Failed() || !board) Error(kRequestFailed);
        p.board = board;
        p.boardSent = 0;
        return;
    }
    case kScoreUploaded: {
        r.U64();
        const uint8_t success = r.U8();
        if (!p.scoreSent) return;
        if (r.Failed() || !success) Error(kRequestFailed);
        else result.score.push_back(Micros(now - p.scoreSent));
        p.scoreSent = 0;
        return;
    }
    case kEntries:
        if (p.pageSent) result.page.push_back(Micros(now - p.pageSent));
        p.pageSent = 0;
        return;
    default:
        return;  // lobby updates, user info and the like: nothing to do
    }
}

void Worker::HandleEvent(Player& p, Reader& r, int64_t now) {
    const int32_t callback = r.I32();
    r.U64();
    uint32_t size = 0;
    const uint8_t* record = r.Bytes(kMaxFrame, &size);
    if (r.Failed() || size != CallbackRecordSize(callback)) {
        if (r.Failed() || CallbackRecordSize(callback)) Error(kMalformed);
        return;
    }
    const uint32_t tag = static_cast<uint32_t>(&p - players.data());
    switch (callback) {
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
        Writer mode(kSetLobbyData);
        mode.U64(p.lobby).Text("mode").Text("versus");
        Send(tag, mode);
        Writer skill(kSetLobbyData);
        skill.U64(p.lobby).Text("skill").Text(std::to_string(p.skill));
        Send(tag, skill);
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
        if (p.match == Match::Open && (update.changeFlags & kMemberEntered)) StartPair(p, update.userChanged, now);
        else if (p.match == Match::Paired && update.userChanged == p.partner && (update.changeFlags & (kMemberLeft | kMemberDisconnected)))
            p.partnerLeft = true;  // the caller leaves too
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
        Close(p);
        p.link = Link::Waiting;
        p.nextTry = now + kSecond;
        return;
    }
    if (!p.board && !p.boardSent) {
        p.boardSent = now;
        Writer find(kFindLeaderboard);
        find.U64(p.nextCall++).Text(kBoard);
        Send(tag, find);
    }
    if (p.host && p.match == Match::Idle) {
        p.match = Match::Creating;
        p.createSent = now;
        Writer create(kCreateLobby);
        create.U64(p.nextCall++).I32(kLobbyPublic).I32(2);
        Send(tag, create);
    } else if (!p.host && p.match == Match::Idle && now >= p.nextSearch) {
        p.match = Match::Searching;
        p.searchSent = now;
        p.nextSearch = now + kSearchEvery;
        Writer search(kLobbyList);
        search.U64(p.nextCall++);
        search.U32(1).Text("mode").Text("versus").I32(kCompareEqual);
        search.U32(0);
        search.U32(1).Text("skill").I32(p.skill);
        search.I32(1);
        Send(tag, search);
    }
    if (p.match == Match::Paired) {
        if (now >= p.pairedUntil) {
            EndPair(tag, now);
        } else {
            if (p.nextFrame < now - kFrameEvery) p.nextFrame = now;  // a late thread does not burst
            while (p.nextFrame <= now) {
                uint8_t data[kFrameBytes];
                std::memset(data, static_cast<int>(p.account), sizeof data);
                const int64_t stamp = Now();
                std::memcpy(data, &stamp, sizeof stamp);
                Writer frame(kP2PSend);
                frame.Reserve(32 + kFrameBytes);
                frame.U64(p.partner).U8(0).I32(0).Bytes(data, sizeof data);
                Send(tag, frame);
                ++result.framesSent;
                p.nextFrame += kFrameEvery;
            }
        }
    }
    if (now >= p.nextWrite) {
        p.nextWrite += kWriteEvery;
        if (!p.statsSent) {
            p.statsSequence = p.nextSequence++;
            p.statsSent = now;
            Writer stats(kStoreStats, p.statsSequence);
            stats.U32(2);
            for (const char* name : kStats) stats.Text(name).U8(0).U32(static_cast<uint32_t>(p.random.Below(1000)));
            stats.U32(0);
            Send(tag, stats);
        }
        if (p.board && !p.scoreSent) {
            p.scoreSent = now;
            Writer score(kUploadScore);
            score.U64(p.nextCall++).U64(p.board).I32(kUploadKeepBest).I32(static_cast<int32_t>(p.random.Below(100000))).U32(0);
            Send(tag, score);
        }
        if (p.board && !p.pageSent) {
            p.pageSent = now;
            Writer page(kDownloadEntries);
            page.U64(p.nextCall++).U64(p.board).I32(kLeaderboardGlobal).I32(1).I32(10);
            Send(tag, page);
        }
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
    std::vector<Poller::Event> events(512);
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
    for (int i = 0; i < plan.players; ++i) workers[i % threads]->Add(static_cast<uint32_t>(i));
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
