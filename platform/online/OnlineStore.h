#pragma once
// Durable broker state in SQLite (private to the broker), in write-ahead-log mode.
//
// By default every write is its own transaction, synchronised to disk: a write that
// returns true is durable. With group commit (the broker program) the writes of one
// serving round share one transaction, which the first write opens and CommitRound ends
// without waiting for the disk; a StoreSync on another thread then makes the log durable
// (one fdatasync for every round committed since the last). A write that returns true
// there is only part of the round: its answer must wait for the round's commit and the
// sync after it. The log is copied into the database by StoreSync's checkpoints too,
// with the disk's synchronisation; it can start again from its beginning only after a
// checkpoint that copied all of it, so the owner stops committing while one runs
// (LogFrames tells when one is due). Pages are never spilled to the log before a commit.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct sqlite3;

namespace online {

struct StoredScore {
    uint32_t account = 0;
    int32_t score = 0;
    std::vector<int32_t> details;
};

class BrokerStore {
public:
    ~BrokerStore();
    bool Open(const std::string& path, std::string* error);  // ":memory:" for none

    // Before Open: writes join the round's transaction (see above).
    void UseGroupCommit() { group = true; }
    // Ends the round's transaction. False: its writes are lost (a write or the commit
    // failed in a way that undid the transaction); true: committed, or nothing written.
    bool CommitRound();
    // A transaction of the round is open: a write has been taken since the last commit.
    bool RoundOpen() const { return inRound; }
    // Group commit: frames in the log after the last commit, and the commits so far.
    int LogFrames() const { return logFrames; }
    uint64_t Commits() const { return commits; }
    // From now on every write fails (the disk lost writes: what follows them in the log
    // would not survive a restart either).
    void RefuseWrites() { refusing = true; }

    bool PutUser(uint32_t account, const std::string& persona);
    // The users row holds exactly this persona.
    bool HasUser(uint32_t account, const std::string& persona);
    std::string Persona(uint32_t account);
    bool AddFriends(uint32_t a, uint32_t b);
    std::vector<uint32_t> Friends(uint32_t account);

    // Stat values as text (decimal integer or float), achievements as 0/1.
    std::vector<std::pair<std::string, std::string>> LoadStats(uint32_t account);
    std::vector<std::pair<std::string, int>> LoadAchievements(uint32_t account);
    bool SaveStats(uint32_t account, const std::vector<std::pair<std::string, std::string>>& stats,
                   const std::vector<std::pair<std::string, int>>& achievements);

    // Leaderboards: id > 0, or 0 when missing (and not created).
    int64_t FindBoard(const std::string& name, bool create, int32_t* sort);
    bool DefineBoard(const std::string& name, int32_t sort);
    std::string BoardName(int64_t board, int32_t* sort);
    // Entries best first (by the board's sort; ties: earlier upload first).
    std::vector<StoredScore> Ranked(int64_t board);
    bool PutScore(int64_t board, const StoredScore& score);

    bool WriteFile(uint32_t account, const std::string& name, const void* data, size_t size);
    bool ReadFile(uint32_t account, const std::string& name, std::vector<uint8_t>* data);

    // PRAGMA integrity_check answers "ok".
    bool IntegrityOk();

private:
    bool Exec(const char* sql);
    // Opens the round's transaction in group commit; false when the round is lost.
    bool Begin();
    bool Together(const std::function<bool()>& writes);
    sqlite3* db = nullptr;
    bool group = false;
    bool inRound = false;
    bool roundLost = false;
    bool refusing = false;
    int logFrames = 0;
    uint64_t commits = 0;
};

// The durable side of group commit, for its own thread: its own connection to the
// store's file and the log's descriptor. Every call from one thread.
class StoreSync {
public:
    ~StoreSync();
    bool Open(const std::string& path, std::string* error);
    // Makes every transaction committed so far durable, the log's name in its folder
    // too. False when the disk refused.
    bool Sync();
    // Copies the log into the database, both synchronised. Complete (the log may start
    // again) when no commit runs meanwhile.
    bool Checkpoint();

private:
    sqlite3* db = nullptr;
    std::string logPath;
    int log = -1;
};

}  // namespace online
