// The broker program's serving loop (its limits are described in BrokerServer.h).
//
// One round: wait for the sockets that are ready (epoll); accept; read each readable
// connection within its input credit and hand its whole frames to the core while no
// pause holds; write what waits; end the connections that broke a limit or closed. The
// core's answers come back through Deliver, which queues them on the addressed
// connection. A round visits only the connections with events and those that need a
// look (output waiting, a frame begun, credit awaited); handshakes time out oldest first
// from their list.
//
// Durable writes: the round's writes share one transaction, committed at the round's
// end without waiting for the disk. The store thread (Syncer) synchronises the log and
// reports back through the poller's wake-up; only then do the answers to those writes
// go out (BrokerCore holds them).
#include "tools/broker/BrokerServer.h"

#include "platform/online/OnlineBroker.h"
#include "platform/online/OnlinePoller.h"
#include "platform/online/OnlineSocket.h"
#include "platform/online/OnlineStore.h"
#include "platform/online/OnlineWire.h"
#include "platform/os/Clock.h"
#include "tools/broker/BrokerControl.h"
#include "tools/broker/BrokerTcp.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace online {

namespace {

constexpr size_t kReadChunk = 64 * 1024;
// Refused connections whose close lingers, and for how long at most.
constexpr size_t kMaxLingering = 64;
constexpr double kLingerSeconds = 2;
constexpr int kReadsPerRound = 16;  // per connection, so one client cannot starve the rest
constexpr int kAcceptsPerRound = 16;
// Network connections accepted in one round. A handshake survives at least
// maxUnauthenticatedPerAddress / kNetworkAcceptsPerRound rounds of newer connections from
// its address, and each round reads the answers that came before it accepts, so a
// player's prompt answer is read even while a flood of connections drops the handshakes
// in turn. The listener's queue holds the connections not yet taken.
constexpr int kNetworkAcceptsPerRound = 32;
constexpr int kPollMs = 200;
// A frame larger than this is large: large frames leave a reserve of the input budget to
// the rest, and a read of not yet announced frames takes at most kHeadRead of it, so
// connections that hold large unfinished frames cannot keep ordinary requests out.
constexpr size_t kSmallFrame = 64 * 1024 + 4;
constexpr size_t kHeadRead = 4 * 1024;

int64_t Ticks(double seconds) { return static_cast<int64_t>(seconds * os::kCounterFrequency); }

struct Queued {
    SharedFrame frame;
    OnlineId snapshotOf = 0;
};

struct Connection {
    SocketHandle socket = -1;
    uint32_t session = 0;
    bool dead = false;
    bool closed = false;
    // What the poller waits for on it.
    bool readInterest = true;
    bool writeInterest = false;
    uint64_t touchedIn = 0;  // the last round that visits it
    // Closed with a refusal the peer must read: the close lingers (see Server::lingering).
    bool lingerOnClose = false;
    // Network connections: the peer's address, and the handshake until it is passed, with
    // its places in the server's lists of handshakes under way.
    bool network = false;
    bool pastHandshake = false;
    std::string peer;     // address and port
    std::string address;  // without the port
    std::unique_ptr<BrokerHandshake> handshake;
    std::list<Connection*>::iterator pendingAt, pendingAtAddress;
    int64_t acceptedAt = 0;
    // Input.
    wire::FrameSplitter splitter;
    size_t credit = 0;  // bytes it may buffer: its share of the input budget
    uint64_t waitingTurn = 0;  // non-zero: waits for credit, served in this order
    int64_t frameSince = 0;    // when the clock of its incomplete frame started; 0: not running
    // Output.
    std::list<Queued> queue;
    std::map<OnlineId, std::list<Queued>::iterator> unsentSnapshots;
    size_t headWritten = 0;    // bytes of the first queued frame already written
    size_t queued = 0;         // bytes still to write
    int64_t waitingSince = 0;  // when the queue last took a byte or stopped being empty
};

// The store thread: synchronises the log for the rounds committed so far, one fdatasync
// for all of them, and reports each through the serving thread's wake-up.
class Syncer {
public:
    ~Syncer() { Stop(); }
    bool Start(const std::string& path, Wakeup* wakeup, std::string* error) {
        if (!sync.Open(path, error)) return false;
        wake = wakeup;
        thread = std::thread([this] { Loop(); });
        return true;
    }
    // The rounds up to this one are committed.
    void Submit(uint64_t round) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            wanted = round;
        }
        changed.notify_one();
    }
    // After the rounds submitted so far: a checkpoint.
    void Checkpoint() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            checkpointWanted = true;
        }
        changed.notify_one();
    }
    // Rounds synced (or not) since the last call, oldest first; whether the checkpoint
    // asked for has run.
    void Take(std::vector<std::pair<uint64_t, bool>>& out, bool* checkpointed) {
        out.clear();
        std::lock_guard<std::mutex> lock(mutex);
        out.swap(done);
        *checkpointed = checkpointsDone > 0;
        checkpointsDone = 0;
    }
    // Ends the thread once every submitted round is synced.
    void Stop() {
        if (!thread.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        changed.notify_one();
        thread.join();
    }

private:
    void Loop() {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return stopping || wanted > synced || checkpointWanted; });
            if (wanted <= synced && checkpointWanted) {
                checkpointWanted = false;
                lock.unlock();
                if (!sync.Checkpoint()) std::fprintf(stderr, "online_broker: a checkpoint of the store's log failed\n");
                lock.lock();
                ++checkpointsDone;
                wake->Wake();
                continue;
            }
            if (wanted <= synced) return;
            const uint64_t round = wanted;
            lock.unlock();
            const bool ok = sync.Sync();
            if (!ok) std::fprintf(stderr, "online_broker: the store's log could not be written to disk; its writes and every later one are answered as failed\n");
            lock.lock();
            synced = round;
            done.emplace_back(round, ok);
            wake->Wake();
        }
    }

    StoreSync sync;
    Wakeup* wake = nullptr;
    std::thread thread;
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<bool> stopping{false};
    uint64_t wanted = 0, synced = 0;
    bool checkpointWanted = false;
    int checkpointsDone = 0;
    std::vector<std::pair<uint64_t, bool>> done;
};

class Server : public BrokerOutput {
public:
    explicit Server(const BrokerServerOptions& o) : options(o), core(this) {
        reserve = std::max<size_t>(options.inputBudget / 8, 1u << 20);
        // A budget smaller than one largest frame and the reserve would hold such a frame
        // back for ever.
        options.inputBudget = std::max<size_t>(options.inputBudget, wire::kMaxFrame + 4 + reserve);
    }
    int Run();
    void Deliver(uint32_t session, const SharedFrame& frame, OnlineId snapshotOf) override;

private:
    bool Paused() const { return congested > 0 || totalQueued > options.outputBudget; }
    // A connection whose requests wait: its own answers pile up, or the output is spent
    // and it has not read all of its answers (one that has is still served, a frame a
    // round, so that readers are answered while the others are cut off).
    bool Held(const Connection& c) const { return c.queued > options.pauseOutput || (Paused() && !c.queue.empty()); }
    static bool Large(const Connection& c) {
        const uint32_t head = c.splitter.HeadLength();
        return head && size_t{4} + head > kSmallFrame;
    }
    static bool WholeFrameHeld(const Connection& c) {
        const uint32_t head = c.splitter.HeadLength();
        return head && c.splitter.Buffered() >= size_t{4} + head;
    }
    void Accept(int64_t now);
    void AcceptNetwork(int64_t now);
    void ReadHandshake(Connection& c);
    void Refuse(Connection& c, const char* why);
    void EndHandshake(Connection& c);
    void DropOldestHandshake(const std::list<Connection*>& from);
    void LogDrops(int64_t now);
    bool EnsureCredit(Connection& c);
    void TrimCredit(Connection& c);
    void Read(Connection& c);
    void HandleFrames(Connection& c);
    bool HandleControl(Connection& c, const std::vector<uint8_t>& body);
    void Write(Connection& c, int64_t now);
    void CheckTimes(Connection& c, int64_t now);
    void SetQueued(Connection& c, size_t bytes);
    void Close(Connection& c);
    void DrainLingering(SocketHandle socket);
    void ExpireLingering(int64_t now);
    void ExpireHandshakes(int64_t now);
    void Touch(Connection& c);
    void UpdateInterest(Connection& c);
    void SetListening(bool on);
    void TakeSyncs();
    static bool NeedsLook(const Connection& c) { return !c.queue.empty() || c.waitingTurn || c.splitter.Buffered() > 0; }

    BrokerServerOptions options;
    BrokerCore core;
    SocketPoller poller;
    Wakeup wakeup;
    bool groupCommit = false;
    bool checkpointing = false;  // no round ends meanwhile
    std::vector<std::pair<uint64_t, bool>> syncs;
    BrokerListener listener;
    TcpListener tcpListener;
    size_t networkPlayers = 0;  // network connections past the handshake
    // Handshakes under way, oldest first: all of them, and by address.
    std::list<Connection*> pending;
    std::map<std::string, std::list<Connection*>> pendingByAddress;
    int64_t lastRefusalLog = 0;
    size_t unloggedRefusals = 0;  // refusals not logged since lastRefusalLog
    size_t dropped = 0;           // handshakes dropped since the last log line about it
    int64_t lastDropLog = 0;
    std::unordered_map<SocketHandle, std::unique_ptr<Connection>> connections;
    uint64_t roundNumber = 0;
    std::vector<Connection*> visits;     // this round's, in the order they were touched
    std::vector<Connection*> attention;  // to visit next round whatever its events
    std::unordered_map<uint32_t, Connection*> bySession;
    // Sockets closed after a refusal, with their deadline: their sending half is shut and
    // what the peer still sends is read and dropped until it closes or the deadline passes.
    // Closing at once with the peer's next frame unread would reset the connection, and the
    // peer could lose the refusal before reading it. Oldest first, at most kMaxLingering.
    std::deque<std::pair<SocketHandle, int64_t>> lingering;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(kReadChunk);
    std::vector<uint8_t> body;
    size_t committed = 0;    // sum of the connections' input credit
    size_t reserve = 0;      // of the input budget, kept from large frames
    size_t totalQueued = 0;  // sum of the connections' waiting output
    int congested = 0;       // connections with more than congestedOutput waiting
    uint64_t nextTurn = 1;
    int64_t acceptPausedUntil = 0;
    bool atFileLimit = false;
    bool listening = false;
    std::atomic<bool> stop{false};
    std::thread::id thread;
    Syncer syncer;  // last: stops before the rest goes
};

void Server::Touch(Connection& c) {
    if (c.touchedIn == roundNumber) return;
    c.touchedIn = roundNumber;
    visits.push_back(&c);
}

void Server::UpdateInterest(Connection& c) {
    if (c.dead) return;
    const bool read = c.handshake ? true : !c.waitingTurn && !Held(c) && !WholeFrameHeld(c);
    const bool write = !c.queue.empty();
    if (read == c.readInterest && write == c.writeInterest) return;
    if (!poller.Change(c.socket, static_cast<uint32_t>(c.socket), read, write)) {
        c.dead = true;
        return;
    }
    c.readInterest = read;
    c.writeInterest = write;
}

void Server::SetListening(bool on) {
    if (on == listening) return;
    listening = on;
    poller.Change(listener.Handle(), static_cast<uint32_t>(listener.Handle()), on, false);
    if (options.listenTcp) poller.Change(tcpListener.Handle(), static_cast<uint32_t>(tcpListener.Handle()), on, false);
}

void Server::TakeSyncs() {
    bool checkpointed = false;
    syncer.Take(syncs, &checkpointed);
    if (checkpointed) checkpointing = false;
    for (const auto& [round, ok] : syncs) core.Synced(round, ok);
}

void Server::SetQueued(Connection& c, size_t bytes) {
    congested += (bytes > options.congestedOutput) - (c.queued > options.congestedOutput);
    totalQueued = totalQueued - c.queued + bytes;
    c.queued = bytes;
}

void Server::Deliver(uint32_t session, const SharedFrame& frame, OnlineId snapshotOf) {
    assert(std::this_thread::get_id() == thread && "the serving thread only");
    auto it = bySession.find(session);
    if (it == bySession.end() || it->second->dead) return;
    Connection& c = *it->second;
    Touch(c);
    if (snapshotOf) {
        auto old = c.unsentSnapshots.find(snapshotOf);
        if (old != c.unsentSnapshots.end()) {
            SetQueued(c, c.queued - old->second->frame->size() + frame->size());
            old->second->frame = frame;
            return;
        }
    }
    if (c.queue.empty()) c.waitingSince = os::ReadCounter();
    c.queue.push_back(Queued{frame, snapshotOf});
    if (snapshotOf) c.unsentSnapshots[snapshotOf] = std::prev(c.queue.end());
    SetQueued(c, c.queued + frame->size());
    if (c.queued > options.connectionOutputLimit) {
        std::fprintf(stderr, "online_broker: session %u stopped reading; disconnecting\n", session);
        c.dead = true;
    }
}

void Server::Accept(int64_t now) {
    for (int i = 0; i < kAcceptsPerRound; ++i) {
        SocketHandle socket = -1;
        switch (listener.AcceptOne(&socket)) {
        case BrokerListener::Accept::Connection: {
            atFileLimit = false;
            if (!poller.Add(socket, static_cast<uint32_t>(socket), true, false)) {
                std::fprintf(stderr, "online_broker: cannot wait on a new connection; closing it\n");
                SocketClose(socket);
                return;
            }
            auto c = std::make_unique<Connection>();
            c->socket = socket;
            c->session = core.AddSession();
            bySession[c->session] = c.get();
            connections[socket] = std::move(c);
            break;
        }
        case BrokerListener::Accept::OutOfHandles:
            // The connection stays pending and the listener readable: waiting on it now
            // would spin. Serve the open connections and try again a little later.
            if (!atFileLimit) std::fprintf(stderr, "online_broker: at the open-file limit; accepting paused\n");
            atFileLimit = true;
            acceptPausedUntil = now + Ticks(options.acceptPauseMs / 1000.0);
            return;
        case BrokerListener::Accept::Failed:
            std::fprintf(stderr, "online_broker: accepting a connection failed\n");
            return;
        case BrokerListener::Accept::None:
            return;
        }
    }
}

// The peer's address without its port ("[::1]:5" gives "[::1]").
std::string AddressOf(const std::string& peer) {
    const size_t colon = peer.rfind(':');
    return colon == std::string::npos ? peer : peer.substr(0, colon);
}

void Server::AcceptNetwork(int64_t now) {
    for (int i = 0; i < kNetworkAcceptsPerRound; ++i) {
        SocketHandle socket = -1;
        std::string peer;
        const BrokerListener::Accept result = tcpListener.AcceptOne(&socket, &peer);
        if (result == BrokerListener::Accept::OutOfHandles) {
            acceptPausedUntil = now + Ticks(options.acceptPauseMs / 1000.0);
            return;
        }
        if (result != BrokerListener::Accept::Connection) return;
        if (networkPlayers >= options.maxNetworkConnections) {
            if (now - lastRefusalLog >= Ticks(1)) {
                std::fprintf(stderr, "online_broker: too many network connections; closing %s\n", peer.c_str());
                lastRefusalLog = now;
            }
            SocketClose(socket);
            continue;
        }
        uint8_t challenge[kChallengeBytes];
        if (!SystemRandom(challenge, sizeof challenge)) {
            std::fprintf(stderr, "online_broker: no random bytes for a challenge; closing %s\n", peer.c_str());
            SocketClose(socket);
            continue;
        }
        if (!poller.Add(socket, static_cast<uint32_t>(socket), true, false)) {
            std::fprintf(stderr, "online_broker: cannot wait on %s; closing it\n", peer.c_str());
            SocketClose(socket);
            continue;
        }
        std::string address = AddressOf(peer);
        auto same = pendingByAddress.find(address);
        if (same != pendingByAddress.end() && same->second.size() >= std::max<size_t>(options.maxUnauthenticatedPerAddress, 1))
            DropOldestHandshake(same->second);
        else if (pending.size() >= std::max<size_t>(options.maxUnauthenticated, 1))
            DropOldestHandshake(pending);
        auto c = std::make_unique<Connection>();
        c->socket = socket;
        c->network = true;
        c->peer = std::move(peer);
        c->address = std::move(address);
        c->acceptedAt = now;
        c->handshake = std::make_unique<BrokerHandshake>(options.secret, challenge);
        c->session = core.AddSession(true);
        c->pendingAt = pending.insert(pending.end(), c.get());
        std::list<Connection*>& ofAddress = pendingByAddress[c->address];
        c->pendingAtAddress = ofAddress.insert(ofAddress.end(), c.get());
        bySession[c->session] = c.get();
        Connection& ref = *c;
        connections[socket] = std::move(c);
        Deliver(ref.session, std::make_shared<const std::vector<uint8_t>>(ref.handshake->ChallengeFrame()), 0);
    }
}

// Ends the handshake's time in the lists of handshakes under way.
void Server::EndHandshake(Connection& c) {
    if (!c.handshake) return;
    c.handshake.reset();
    pending.erase(c.pendingAt);
    auto list = pendingByAddress.find(c.address);
    list->second.erase(c.pendingAtAddress);
    if (list->second.empty()) pendingByAddress.erase(list);
}

void Server::DropOldestHandshake(const std::list<Connection*>& from) {
    Connection& oldest = *from.front();
    Touch(oldest);
    EndHandshake(oldest);  // may erase `from`
    oldest.dead = true;
    ++dropped;
}

// A flood drops handshakes by the thousand: one line a second says how many.
void Server::LogDrops(int64_t now) {
    if (!dropped || now - lastDropLog < Ticks(1)) return;
    std::fprintf(stderr, "online_broker: %zu unanswered handshakes dropped, oldest first, for newer connections\n", dropped);
    dropped = 0;
    lastDropLog = now;
}

void Server::Refuse(Connection& c, const char* why) {
    // At most one line a second: strangers can be refused as fast as they connect.
    const int64_t now = os::ReadCounter();
    c.dead = true;
    EndHandshake(c);
    if (now - lastRefusalLog < Ticks(1)) {
        ++unloggedRefusals;
        return;
    }
    if (unloggedRefusals)
        std::fprintf(stderr, "online_broker: closing %s: %s (%zu more refused since the last line)\n", c.peer.c_str(), why, unloggedRefusals);
    else
        std::fprintf(stderr, "online_broker: closing %s: %s\n", c.peer.c_str(), why);
    unloggedRefusals = 0;
    lastRefusalLog = now;
}

// The handshake reads at most one small frame's worth at a time.
void Server::ReadHandshake(Connection& c) {
    uint8_t bytes[BrokerHandshake::kMaxHandshakeFrame + 4];
    const long n = SocketReceive(c.socket, bytes, sizeof bytes);
    if (n == 0) return;
    if (n < 0) {
        c.dead = true;
        return;
    }
    switch (c.handshake->Feed(bytes, static_cast<size_t>(n))) {
    case BrokerHandshake::State::Waiting:
        return;
    case BrokerHandshake::State::Rejected:
        if (c.handshake->AnswerWasWrong()) {
            // Best effort: a client that reads it stops trying with its secret.
            const std::vector<uint8_t> refused = wire::Writer(wire::kAuthRefused).TakeFrame();
            SocketSend(c.socket, refused.data(), refused.size());
            c.lingerOnClose = true;
        }
        Refuse(c, c.handshake->Reason());
        return;
    case BrokerHandshake::State::Accepted: {
        const std::vector<uint8_t> rest = c.handshake->TakeLeftover();
        EndHandshake(c);
        if (networkPlayers >= options.maxNetworkConnections) {
            Refuse(c, "too many network connections");
            return;
        }
        c.pastHandshake = true;
        ++networkPlayers;
        if (!rest.empty()) {
            // Within the input budget's rules: the leftover is at most one small read.
            committed += rest.size();
            c.credit += rest.size();
            if (!c.splitter.Push(rest.data(), rest.size())) {
                Refuse(c, "an oversized frame");
                return;
            }
            HandleFrames(c);
        }
        return;
    }
    }
}

// Makes room for the next read: the whole frame whose length is in, else a chunk.
// False when the connection must not read now (a whole frame waits, or no credit).
bool Server::EnsureCredit(Connection& c) {
    if (WholeFrameHeld(c)) return false;
    const size_t buffered = c.splitter.Buffered();
    const uint32_t head = c.splitter.HeadLength();
    size_t want = head ? size_t{4} + head : buffered + kReadChunk;
    if (c.credit >= want) return c.credit > buffered;
    const size_t others = committed - c.credit;
    const size_t shared = options.inputBudget - reserve;
    const size_t free = shared > others ? shared - others : 0;
    const size_t room = Large(c) ? free : options.inputBudget > others ? options.inputBudget - others : 0;
    // A read of unknown frames takes what there is, of the reserve only a little.
    if (!head) want = std::min({want, room, std::max(free, buffered + kHeadRead)});
    if (want > room || want <= buffered) {
        if (!c.waitingTurn) c.waitingTurn = nextTurn++;
        return false;
    }
    committed += want - c.credit;
    c.credit = want;
    c.waitingTurn = 0;
    return true;
}

// Gives back the credit the connection no longer needs.
void Server::TrimCredit(Connection& c) {
    const uint32_t head = c.splitter.HeadLength();
    size_t keep = c.splitter.Buffered();
    if (head && !c.waitingTurn) keep = std::max(keep, std::min(c.credit, size_t{4} + head));
    committed -= c.credit - keep;
    c.credit = keep;
}

void Server::Read(Connection& c) {
    if (c.dead) return;  // a dropped handshake, too: it must not reach the core
    if (c.handshake) {
        ReadHandshake(c);
        return;
    }
    for (int reads = 0; reads < kReadsPerRound && !c.dead && !Held(c); ++reads) {
        if (!EnsureCredit(c)) return;
        const size_t room = std::min(buffer.size(), c.credit - c.splitter.Buffered());
        const long n = SocketReceive(c.socket, buffer.data(), room);
        if (n == 0) return;
        if (n < 0) {
            c.dead = true;
            return;
        }
        if (!c.splitter.Push(buffer.data(), static_cast<size_t>(n))) {
            std::fprintf(stderr, "online_broker: session %u sent an oversized frame\n", c.session);
            c.dead = true;
            return;
        }
        HandleFrames(c);
        // A short read took what there was: the poller reports the connection again when
        // more comes, without a read that finds nothing.
        if (static_cast<size_t>(n) < room) return;
    }
}

void Server::HandleFrames(Connection& c) {
    bool took = false;
    const bool paused = Paused();
    while (!c.dead && !Held(c) && !(paused && took) && c.splitter.Next(body)) {
        took = true;
        if (c.network && body[0] == wire::kControl) {
            Refuse(c, "a control frame");
            break;
        }
        const bool ok = body[0] == wire::kControl ? HandleControl(c, body) : core.Handle(c.session, body.data(), body.size());
        if (!ok) {
            std::fprintf(stderr, "online_broker: session %u sent a malformed message\n", c.session);
            c.dead = true;
        }
    }
    if (took) c.frameSince = 0;  // the next frame's clock starts afresh
}

bool Server::HandleControl(Connection& c, const std::vector<uint8_t>& frameBody) {
    wire::Reader r(frameBody.data(), frameBody.size());
    const std::string command = r.Text(kMaxControlCommand);
    uint32_t n = 0;
    const uint8_t* argument = r.Bytes(kMaxCloudFile, &n);
    if (r.Failed() || !r.AtEnd()) return false;
    std::string answer;
    bool ok = true;
    if (command == "stop") stop = true;
    else ok = RunControl(core.Store(), command, std::string(reinterpret_cast<const char*>(argument), n), &answer);
    wire::Writer w(wire::kReply, r.Sequence());
    w.U8(ok ? 1 : 0).Bytes(answer.data(), answer.size());
    const SharedFrame frame = std::make_shared<const std::vector<uint8_t>>(w.Frame());
    if (!core.Store().RoundOpen()) {
        Deliver(c.session, frame, 0);
        return true;
    }
    // It wrote: answered once the round's writes are on disk.
    const std::string why = "the store could not commit it";
    wire::Writer failed(wire::kReply, r.Sequence());
    failed.U8(0).Bytes(why.data(), why.size());
    core.AnswerAfterRound(c.session, frame, std::make_shared<const std::vector<uint8_t>>(failed.Frame()));
    return true;
}

void Server::Write(Connection& c, int64_t now) {
    while (!c.queue.empty() && !c.dead) {
        Queued& head = c.queue.front();
        const std::vector<uint8_t>& bytes = *head.frame;
        const long n = SocketSend(c.socket, bytes.data() + c.headWritten, bytes.size() - c.headWritten);
        if (n == 0) return;
        if (n < 0) {
            c.dead = true;
            return;
        }
        if (c.headWritten == 0 && head.snapshotOf) c.unsentSnapshots.erase(head.snapshotOf);  // begun: final
        c.headWritten += static_cast<size_t>(n);
        c.waitingSince = now;
        SetQueued(c, c.queued - static_cast<size_t>(n));
        if (c.headWritten == bytes.size()) {
            c.queue.pop_front();
            c.headWritten = 0;
        }
    }
}

void Server::CheckTimes(Connection& c, int64_t now) {
    if (c.handshake) {
        if (now - c.acceptedAt > Ticks(options.handshakeSeconds)) Refuse(c, "no answer to the challenge in time");
        return;
    }
    const bool incomplete = c.splitter.Buffered() > 0 && !WholeFrameHeld(c);
    // The clock of an incomplete frame runs while the connection could send the rest.
    if (!incomplete || c.waitingTurn || Held(c)) c.frameSince = 0;
    else if (!c.frameSince) c.frameSince = now;
    else if (now - c.frameSince > Ticks(options.partialFrameSeconds)) {
        std::fprintf(stderr, "online_broker: session %u left a frame incomplete; disconnecting\n", c.session);
        c.dead = true;
    }
    if (Paused() && !c.queue.empty() && now - c.waitingSince > Ticks(options.stallSeconds)) {
        std::fprintf(stderr, "online_broker: session %u stopped reading; disconnecting\n", c.session);
        c.dead = true;
    }
}

void Server::Close(Connection& c) {
    c.dead = true;
    if (c.network) {
        EndHandshake(c);
        if (c.pastHandshake) --networkPlayers;
        c.pastHandshake = false;
        c.network = false;
    }
    core.RemoveSession(c.session);  // may deliver to others: written next round
    bySession.erase(c.session);
    committed -= c.credit;
    c.credit = 0;
    SetQueued(c, 0);
    c.closed = true;
    if (!c.lingerOnClose) {
        poller.Remove(c.socket);
        SocketClose(c.socket);
        return;
    }
    SocketShutdownSend(c.socket);
    poller.Change(c.socket, static_cast<uint32_t>(c.socket), true, false);
    if (lingering.size() >= kMaxLingering) {
        poller.Remove(lingering.front().first);
        SocketClose(lingering.front().first);
        lingering.pop_front();
    }
    lingering.emplace_back(c.socket, os::ReadCounter() + Ticks(kLingerSeconds));
}

int Server::Run() {
    thread = std::this_thread::get_id();
    StatsSchema schema;
    std::string error;
    if (!options.schemaPath.empty() && !schema.Load(options.schemaPath, &error)) {
        std::fprintf(stderr, "online_broker: %s\n", error.c_str());
        return 2;
    }
    if (!poller.Ok() || !wakeup.Ok() || !poller.Add(wakeup.Handle(), static_cast<uint32_t>(wakeup.Handle()), true, false)) {
        std::fprintf(stderr, "online_broker: cannot wait on sockets\n");
        return 2;
    }
    if (!options.dataFolder.empty()) MakePrivateFolder(options.dataFolder);
    // Group commit for a store on disk (one in memory has no disk to wait for).
    groupCommit = !options.dataFolder.empty();
    if (groupCommit) core.UseGroupCommit();
    // The network listener first: a taken port ends the broker before its socket file
    // appears.
    if (!core.Open(options.dataFolder, schema, &error) ||
        (groupCommit && !syncer.Start(options.dataFolder + "/broker.db", &wakeup, &error)) ||
        (options.listenTcp && !tcpListener.Open(options.tcpEndpoint, &error)) || !listener.Open(options.socketFolder, &error)) {
        std::fprintf(stderr, "online_broker: %s\n", error.c_str());
        return 2;
    }
    if (!poller.Add(listener.Handle(), static_cast<uint32_t>(listener.Handle()), true, false) ||
        (options.listenTcp && !poller.Add(tcpListener.Handle(), static_cast<uint32_t>(tcpListener.Handle()), true, false))) {
        std::fprintf(stderr, "online_broker: cannot wait on the listening sockets\n");
        return 2;
    }
    listening = true;
    if (options.listenTcp) {
        std::printf("online_broker: listening on %s\n", tcpListener.Bound().Text().c_str());
        std::fflush(stdout);
    }
    CatchStopSignals();
    int64_t idleSince = os::ReadCounter();
    std::vector<SocketPoller::Event> events(SocketPoller::kMaxEventsPerWait);
    std::vector<Connection*> waiting;
    while (!StopSignalled() && !stop) {
        ++roundNumber;
        visits.clear();
        int64_t now = os::ReadCounter();
        // Connections waiting for input credit, in the order they began to wait.
        waiting.clear();
        for (Connection* c : attention)
            if (c->waitingTurn) waiting.push_back(c);
        std::sort(waiting.begin(), waiting.end(), [](const Connection* a, const Connection* b) { return a->waitingTurn < b->waitingTurn; });
        // Large frames in turn; small ones do not wait behind them.
        bool largeWait = false;
        for (Connection* c : waiting) {
            const bool large = Large(*c);
            if (large && largeWait) continue;
            if (!EnsureCredit(*c) && large) largeWait = true;
        }
        for (Connection* c : attention) UpdateInterest(*c);
        for (Connection* c : attention) Touch(*c);
        attention.clear();

        const bool accepting = now >= acceptPausedUntil;
        SetListening(accepting);
        const size_t ready = poller.Wait(events, kPollMs);
        now = os::ReadCounter();
        // Reading before accepting: answers that came are read before newer connections
        // can drop their handshakes.
        bool newcomers = false, networkNewcomers = false;
        for (size_t i = 0; i < ready; ++i) {
            const auto socket = static_cast<SocketHandle>(events[i].tag);
            if (socket == listener.Handle()) newcomers = true;
            else if (options.listenTcp && socket == tcpListener.Handle()) networkNewcomers = true;
            else if (socket == wakeup.Handle()) wakeup.Clear();
            else if (auto it = connections.find(socket); it != connections.end() && !it->second->closed) {
                Connection& c = *it->second;
                Touch(c);
                if (c.readInterest && events[i].readable) Read(c);
                else if (events[i].readable) c.dead = true;  // hung up while it was not being read
            } else {
                DrainLingering(socket);
            }
        }
        ExpireLingering(now);
        TakeSyncs();
        if (accepting && newcomers) Accept(now);
        if (accepting && networkNewcomers) AcceptNetwork(now);
        ExpireHandshakes(now);
        LogDrops(now);
        // Deliver may add connections as it goes.
        for (size_t i = 0; i < visits.size(); ++i) {
            Connection& c = *visits[i];
            Write(c, now);
            HandleFrames(c);  // frames held back by a pause that writing has lifted
            TrimCredit(c);
            CheckTimes(c, now);
        }
        if (groupCommit && !checkpointing) {
            const uint64_t round = core.EndRound();
            if (round) syncer.Submit(round);
            if (core.CheckpointDue()) {
                checkpointing = true;
                syncer.Checkpoint();
            }
        }
        // Closing one may deliver to others, which then join the visits.
        std::vector<Connection*> closed;
        for (size_t i = 0; i < visits.size(); ++i) {
            Connection& c = *visits[i];
            if (!c.dead || c.closed) continue;
            Close(c);
            closed.push_back(&c);
        }
        for (Connection* c : visits) {
            if (c->closed) continue;
            UpdateInterest(*c);
            if (c->dead || NeedsLook(*c)) attention.push_back(c);
        }
        visits.clear();
        for (Connection* c : closed) connections.erase(c->socket);
        if (!closed.empty() && connections.empty()) idleSince = now;
        if (connections.empty() && options.idleExitSeconds > 0 && now - idleSince >= Ticks(options.idleExitSeconds)) {
            std::fprintf(stderr, "online_broker: idle, exiting\n");
            break;
        }
    }
    // The answers still waiting for the disk go out before the connections close.
    if (groupCommit) {
        const uint64_t round = core.EndRound();
        if (round) syncer.Submit(round);
        syncer.Stop();
        TakeSyncs();
    }
    const int64_t now = os::ReadCounter();
    for (auto& [socket, c] : connections) {
        Write(*c, now);
        if (!c->closed) Close(*c);
    }
    for (const auto& [socket, deadline] : lingering) SocketClose(socket);
    lingering.clear();
    return 0;
}

// Handshakes not answered in time, oldest first.
void Server::ExpireHandshakes(int64_t now) {
    while (!pending.empty() && now - pending.front()->acceptedAt > Ticks(options.handshakeSeconds)) {
        Connection& c = *pending.front();
        Touch(c);
        Refuse(c, "no answer to the challenge in time");  // ends its handshake
    }
}

// Reads and drops what a lingering socket received; closes it when its peer closed.
void Server::DrainLingering(SocketHandle socket) {
    auto it = std::find_if(lingering.begin(), lingering.end(), [&](const auto& l) { return l.first == socket; });
    if (it == lingering.end()) return;
    long n = 1;
    for (int reads = 0; reads < 4 && n > 0; ++reads) n = SocketReceive(socket, buffer.data(), buffer.size());
    if (n >= 0) return;
    poller.Remove(socket);
    SocketClose(socket);
    lingering.erase(it);
}

// Closes the lingering sockets whose deadline passed (the oldest first).
void Server::ExpireLingering(int64_t now) {
    while (!lingering.empty() && now >= lingering.front().second) {
        poller.Remove(lingering.front().first);
        SocketClose(lingering.front().first);
        lingering.pop_front();
    }
}

}  // namespace

int RunBrokerServer(const BrokerServerOptions& options) {
    Server server(options);
    return server.Run();
}

}  // namespace online
