// The broker core's group commit: a write's answer, and everything after it to the same
// session, waits for its round to be synced; a round that fails answers every write of
// it with a failure; the users row is written only when it changes; the leaderboards the
// core keeps in step with its uploads rank as the store does.
// test-sanitize: address
#include "platform/online/OnlineBroker.h"
#include "platform/online/OnlineStore.h"
#include "platform/online/OnlineTypes.h"
#include "platform/online/OnlineWire.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

using namespace online;
using namespace online::wire;

namespace {

class Commit : public ::testing::Test, public BrokerOutput {
protected:
    void SetUp() override {
        StatsSchema schema;
        const char text[] = "stat I int\nachievement X\n";
        ASSERT_TRUE(schema.Parse(text, sizeof text - 1, nullptr));
        core.UseGroupCommit();
        ASSERT_TRUE(core.Open("", schema, nullptr));
        a = SignIn(1, "Ann");
        b = SignIn(2, "Bo");
        Sync(true);
        sent.clear();
    }
    void Deliver(uint32_t session, const SharedFrame& frame, OnlineId) override {
        sent.emplace_back(session, std::vector<uint8_t>(frame->begin() + 4, frame->end()));
    }
    uint32_t SignIn(uint32_t account, const std::string& persona) {
        const uint32_t s = core.AddSession();
        EXPECT_TRUE(Send(s, kHello, [&](Writer& w) { w.U32(account).Text(persona).U32(1).Text("english"); }, 1));
        return s;
    }
    bool Send(uint32_t session, Kind kind, const std::function<void(Writer&)>& build, uint32_t sequence = 2) {
        Writer w(kind, sequence);
        build(w);
        const std::vector<uint8_t>& f = w.Frame();
        return core.Handle(session, f.data() + 4, f.size() - 4);
    }
    // Ends the round and reports its sync; false when no answer waited for it.
    bool Sync(bool ok) {
        const uint64_t round = core.EndRound();
        if (round) core.Synced(round, ok);
        return round != 0;
    }
    // The kinds of the frames sent to a session (events as their callback ids).
    std::vector<int> Kinds(uint32_t session) {
        std::vector<int> out;
        for (const auto& [to, body] : sent) {
            if (to != session) continue;
            int kind = body[0];
            if (kind == kEvent) std::memcpy(&kind, body.data() + 5, 4);
            out.push_back(kind);
        }
        return out;
    }
    void WriteFile(uint32_t session, const std::string& name, uint32_t sequence) {
        EXPECT_TRUE(Send(session, kFileWrite, [&](Writer& w) { w.Text(name).Text("data"); }, sequence));
    }
    // The bodies (after kind and sequence) of the replies to a session, in order.
    std::vector<std::vector<uint8_t>> Replies(uint32_t session) {
        std::vector<std::vector<uint8_t>> out;
        for (const auto& [to, body] : sent)
            if (to == session && body[0] == kReply) out.emplace_back(body.begin() + 5, body.end());
        return out;
    }

    BrokerCore core{this};
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> sent;
    uint32_t a = 0, b = 0;
};

TEST_F(Commit, AWritesAnswerAndWhatFollowsWaitForItsRoundsSync) {
    WriteFile(a, "f", 3);
    EXPECT_TRUE(Send(a, kFileRead, [](Writer& w) { w.Text("f"); }, 4));
    // Another session's request is answered at once.
    EXPECT_TRUE(Send(b, kFileRead, [](Writer& w) { w.Text("f"); }, 5));
    EXPECT_TRUE(Kinds(a).empty());
    EXPECT_EQ(Kinds(b), std::vector<int>{kReply});
    // Committed, not yet synced: still nothing.
    const uint64_t first = core.EndRound();
    ASSERT_NE(first, 0u);
    EXPECT_TRUE(Kinds(a).empty());
    // A second round's write waits behind the first.
    WriteFile(a, "g", 6);
    const uint64_t second = core.EndRound();
    ASSERT_GT(second, first);
    core.Synced(first, true);
    auto replies = Replies(a);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0], std::vector<uint8_t>{1});
    EXPECT_EQ(replies[1][0], 1);  // the read sees the write
    sent.clear();
    core.Synced(second, true);
    EXPECT_EQ(Replies(a), std::vector<std::vector<uint8_t>>{{1}});
    // A round without writes has nothing to wait for.
    sent.clear();
    EXPECT_TRUE(Send(a, kFileRead, [](Writer& w) { w.Text("g"); }, 7));
    EXPECT_EQ(Kinds(a), std::vector<int>{kReply});
    EXPECT_FALSE(Sync(true));
}

// After a failed sync every write of its round, of the rounds committed behind it and of
// every later one is answered as failed: the disk may have dropped the log's frames that
// the later ones follow. Later writes are not even taken.
TEST_F(Commit, AFailedSyncAnswersEveryWriteFromItsRoundOnWithFailure) {
    ASSERT_TRUE(core.Store().DefineBoard("board", kSortDescending));
    const int64_t board = core.Store().FindBoard("board", false, nullptr);
    auto writeAll = [&](const std::string& newBoard, int32_t score) {
        EXPECT_TRUE(Send(a, kStoreStats, [](Writer& w) { w.U32(1).Text("I").U8(0).U32(7).U32(1).Text("X").U8(1); }, 3));
        WriteFile(a, "f", 4);
        EXPECT_TRUE(Send(a, kUploadScore, [&](Writer& w) { w.U64(8).U64(static_cast<uint64_t>(board)).I32(kUploadKeepBest).I32(score).U32(0); }));
        EXPECT_TRUE(Send(b, kFindLeaderboard, [&](Writer& w) { w.U64(9).Text(newBoard); }));
        WriteFile(b, "f", 5);
    };
    writeAll("new board", 5);
    const uint64_t failed = core.EndRound();
    writeAll("another board", 6);
    const uint64_t good = core.EndRound();
    EXPECT_TRUE(sent.empty());

    core.Synced(failed, false);
    EXPECT_EQ(Kinds(a), (std::vector<int>{kReply, kReply, kScoreUploaded}));
    EXPECT_EQ(Kinds(b), (std::vector<int>{kLeaderboardInfo, kReply}));
    auto check = [&](bool ok) {
        auto ra = Replies(a), rb = Replies(b);
        ASSERT_EQ(ra.size(), 2u);
        ASSERT_EQ(rb.size(), 1u);
        uint32_t result = 0;
        std::memcpy(&result, ra[0].data(), 4);
        EXPECT_EQ(result, ok ? static_cast<uint32_t>(kResultOK) : static_cast<uint32_t>(kResultFail));
        EXPECT_EQ(ra[1], std::vector<uint8_t>{static_cast<uint8_t>(ok)});
        EXPECT_EQ(rb[0], std::vector<uint8_t>{static_cast<uint8_t>(ok)});
        for (const auto& [to, body] : sent) {
            Reader r(body.data(), body.size());
            if (body[0] == kScoreUploaded) {
                r.U64();
                EXPECT_EQ(r.U8(), ok);
            }
            if (body[0] == kLeaderboardInfo) {
                r.U64();
                EXPECT_EQ(r.U64() != 0, ok);
            }
        }
    };
    check(false);
    sent.clear();
    core.Synced(good, true);
    check(false);
    // Later writes are refused at once and change nothing.
    sent.clear();
    EXPECT_TRUE(Send(a, kStoreStats, [](Writer& w) { w.U32(1).Text("I").U8(0).U32(9).U32(0); }, 3));
    EXPECT_TRUE(Send(a, kFileWrite, [](Writer& w) { w.Text("f").Text("newer"); }, 4));
    EXPECT_TRUE(Send(a, kUploadScore, [&](Writer& w) { w.U64(8).U64(static_cast<uint64_t>(board)).I32(kUploadKeepBest).I32(7).U32(0); }));
    EXPECT_TRUE(Send(b, kFindLeaderboard, [&](Writer& w) { w.U64(9).Text("a third board"); }));
    WriteFile(b, "g", 5);
    EXPECT_EQ(Kinds(a), (std::vector<int>{kReply, kReply, kScoreUploaded}));
    EXPECT_EQ(Kinds(b), (std::vector<int>{kLeaderboardInfo, kReply}));
    check(false);
    EXPECT_FALSE(Sync(true));
    EXPECT_EQ(core.Store().FindBoard("a third board", false, nullptr), 0);
    EXPECT_EQ(core.Store().Ranked(board).at(0).score, 6);
    std::vector<uint8_t> data;
    ASSERT_TRUE(core.Store().ReadFile(1, "f", &data));
    EXPECT_EQ(std::string(data.begin(), data.end()), "data");
    EXPECT_FALSE(core.Store().ReadFile(2, "g", &data));
}

TEST_F(Commit, SigningInWritesTheUsersRowOnlyWhenItChanges) {
    struct Case {
        const char* persona;
        bool writes;
    } cases[] = {{"Ann", false}, {"Ann", false}, {"Anna", true}, {"Anna", false}, {"", true}};
    for (const Case& c : cases) {
        core.RemoveSession(a);
        a = SignIn(1, c.persona);
        EXPECT_EQ(Kinds(a).empty(), c.writes) << c.persona;
        EXPECT_EQ(Sync(true), c.writes) << c.persona;
        EXPECT_EQ(Kinds(a), std::vector<int>{kReply});
        sent.clear();
        EXPECT_EQ(core.Store().Persona(1), c.persona);
    }
}

// Uploads of several players, with ties, on boards of either order: the ranks the core
// answers with are the store's, between rounds and after the owner's own writes.
TEST_F(Commit, RanksFollowTheStoreThroughEveryUpload) {
    std::vector<uint32_t> players = {a, b};
    for (uint32_t account = 3; account <= 8; ++account) players.push_back(SignIn(account, "P" + std::to_string(account)));
    ASSERT_TRUE(core.Store().DefineBoard("down", kSortDescending));
    ASSERT_TRUE(core.Store().DefineBoard("up", kSortAscending));
    std::mt19937 random(11);
    for (const char* name : {"down", "up"}) {
        const int64_t board = core.Store().FindBoard(name, false, nullptr);
        for (int round = 0; round < 6; ++round) {
            for (int i = 0; i < 30; ++i) {
                const uint32_t who = players[random() % players.size()];
                const int32_t method = random() % 3 ? kUploadKeepBest : kUploadForceUpdate;
                const int32_t score = static_cast<int32_t>(random() % 7);
                EXPECT_TRUE(Send(who, kUploadScore, [&](Writer& w) { w.U64(1).U64(static_cast<uint64_t>(board)).I32(method).I32(score).U32(0); }));
            }
            Sync(true);
            sent.clear();
            EXPECT_TRUE(Send(a, kDownloadEntries, [&](Writer& w) { w.U64(2).U64(static_cast<uint64_t>(board)).I32(kLeaderboardGlobal).I32(1).I32(100); }));
            ASSERT_EQ(sent.size(), 1u);
            Reader r(sent[0].second.data(), sent[0].second.size());
            r.U64(), r.U64();
            const int32_t total = r.I32();
            std::vector<std::pair<uint32_t, int32_t>> answered;
            for (uint32_t n = r.U32(); n > 0 && !r.Failed(); --n) {
                const uint32_t account = AccountOf(r.U64());
                r.Text(kMaxName), r.I32();
                answered.emplace_back(account, r.I32());
                for (uint32_t d = r.U32(); d > 0; --d) r.I32();
            }
            std::vector<std::pair<uint32_t, int32_t>> stored;
            for (const StoredScore& e : core.Store().Ranked(board)) stored.emplace_back(e.account, e.score);
            EXPECT_EQ(total, static_cast<int32_t>(stored.size()));
            EXPECT_EQ(answered, stored) << name << " round " << round;
            if (round == 3) {  // the owner's own write: a new best for account 8
                ASSERT_TRUE(core.Store().PutScore(board, StoredScore{8, std::string(name) == "up" ? -1 : 100, {}}));
                Sync(true);
            }
        }
    }
}

// With the store on disk: a long log asks for a checkpoint once, and again only after a
// commit has grown it, so that an idle broker does not checkpoint over and over. A
// complete checkpoint lets the log start again.
TEST(CommitCheckpoint, IsDueOncePerCommitOfALongLog) {
    struct Quiet : BrokerOutput {
        void Deliver(uint32_t, const SharedFrame&, OnlineId) override {}
    } output;
    char pattern[] = "/tmp/brokercheckpointXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    struct Remove {
        std::string path;
        ~Remove() { std::filesystem::remove_all(path); }
    } remove{pattern};
    BrokerCore core(&output);
    core.UseGroupCommit();
    ASSERT_TRUE(core.Open(remove.path, StatsSchema{}, nullptr));
    StoreSync sync;
    ASSERT_TRUE(sync.Open(remove.path + "/broker.db", nullptr));
    const std::vector<uint8_t> large(64 * 1024, 7);
    int files = 0;
    // Ends a round of `count` files of `size` bytes; whether a checkpoint is then due, and
    // how often it is asked for in the idle rounds after it.
    auto round = [&](int count, size_t size, int* idleAsks) {
        for (int i = 0; i < count; ++i) EXPECT_TRUE(core.Store().WriteFile(1, std::to_string(files++), large.data(), size));
        core.EndRound();
        const bool due = core.CheckpointDue();
        *idleAsks = 0;
        for (int i = 0; i < 50; ++i) {
            core.EndRound();
            *idleAsks += core.CheckpointDue();
        }
        return due;
    };
    int idle = 0;
    EXPECT_TRUE(round(80, large.size(), &idle));  // about 1,300 pages
    EXPECT_EQ(idle, 0);
    ASSERT_TRUE(sync.Sync());
    ASSERT_TRUE(sync.Checkpoint());
    // The log started again: a small commit is no reason for another.
    EXPECT_FALSE(round(1, 10, &idle));
    EXPECT_EQ(idle, 0);
    // A long log left as it is (as by a checkpoint that could not copy it all) is asked
    // for again with the next commit, not before.
    EXPECT_TRUE(round(80, large.size(), &idle));
    EXPECT_EQ(idle, 0);
    EXPECT_TRUE(round(1, 10, &idle));
    EXPECT_EQ(idle, 0);
    ASSERT_TRUE(sync.Sync());
    ASSERT_TRUE(sync.Checkpoint());
    EXPECT_FALSE(round(1, 10, &idle));
}

}  // namespace
