#include "platform/online/OnlineStore.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace online {

namespace {

// One prepared statement, finalised on scope exit.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) stmt = nullptr;
    }
    ~Statement() { sqlite3_finalize(stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Ok() const { return stmt != nullptr; }
    Statement& Int(int i, int64_t v) {
        if (stmt) sqlite3_bind_int64(stmt, i, v);
        return *this;
    }
    Statement& Text(int i, const std::string& v) {
        if (stmt) sqlite3_bind_text(stmt, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& Blob(int i, const void* data, size_t size) {
        if (stmt) sqlite3_bind_blob64(stmt, i, size ? data : "", size, SQLITE_TRANSIENT);
        return *this;
    }
    bool Row() { return stmt && sqlite3_step(stmt) == SQLITE_ROW; }
    bool Run() {
        if (!stmt) return false;
        const int rc = sqlite3_step(stmt);
        return rc == SQLITE_DONE || rc == SQLITE_ROW;
    }
    int64_t ColInt(int c) { return sqlite3_column_int64(stmt, c); }
    std::string ColText(int c) {
        const auto* p = sqlite3_column_text(stmt, c);
        return p ? std::string(reinterpret_cast<const char*>(p), sqlite3_column_bytes(stmt, c)) : std::string();
    }
    std::vector<uint8_t> ColBlob(int c) {
        const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(stmt, c));
        const int n = sqlite3_column_bytes(stmt, c);
        return p && n > 0 ? std::vector<uint8_t>(p, p + n) : std::vector<uint8_t>();
    }

private:
    sqlite3_stmt* stmt = nullptr;
};

std::vector<uint8_t> PackDetails(const std::vector<int32_t>& details) {
    std::vector<uint8_t> out(details.size() * 4);
    for (size_t i = 0; i < details.size(); ++i)
        for (int b = 0; b < 4; ++b) out[i * 4 + b] = static_cast<uint8_t>(static_cast<uint32_t>(details[i]) >> (8 * b));
    return out;
}

std::vector<int32_t> UnpackDetails(const std::vector<uint8_t>& blob) {
    std::vector<int32_t> out(blob.size() / 4);
    for (size_t i = 0; i < out.size(); ++i) {
        uint32_t v = 0;
        for (int b = 0; b < 4; ++b) v |= static_cast<uint32_t>(blob[i * 4 + b]) << (8 * b);
        out[i] = static_cast<int32_t>(v);
    }
    return out;
}

}  // namespace

BrokerStore::~BrokerStore() {
    // Closing checkpoints the log into the database: with the disk's synchronisation.
    if (db && group) {
        CommitRound();
        Exec("PRAGMA synchronous=FULL");
    }
    sqlite3_close(db);
}

bool BrokerStore::Exec(const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

bool BrokerStore::Open(const std::string& path, std::string* error) {
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
        if (error) *error = std::string("cannot open ") + path + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
        return false;
    }
    sqlite3_busy_timeout(db, 2000);
    // Group commit: commits only write the log; StoreSync synchronises it and checkpoints.
    const bool ok = Exec("PRAGMA journal_mode=WAL") && Exec(group ? "PRAGMA synchronous=OFF" : "PRAGMA synchronous=FULL") &&
                    (!group || (Exec("PRAGMA wal_autocheckpoint=0") && Exec("PRAGMA cache_spill=OFF"))) &&
                    Exec("CREATE TABLE IF NOT EXISTS users(account INTEGER PRIMARY KEY, persona TEXT NOT NULL)") &&
                    Exec("CREATE TABLE IF NOT EXISTS friends(a INTEGER, b INTEGER, PRIMARY KEY(a, b))") &&
                    Exec("CREATE TABLE IF NOT EXISTS stats(account INTEGER, name TEXT, value TEXT, PRIMARY KEY(account, name))") &&
                    Exec("CREATE TABLE IF NOT EXISTS achievements(account INTEGER, name TEXT, unlocked INTEGER, "
                         "PRIMARY KEY(account, name))") &&
                    Exec("CREATE TABLE IF NOT EXISTS boards(id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT UNIQUE, sort INTEGER)") &&
                    Exec("CREATE TABLE IF NOT EXISTS scores(board INTEGER, account INTEGER, score INTEGER, details BLOB, "
                         "seq INTEGER, PRIMARY KEY(board, account))") &&
                    // Every stored score takes the next sequence number: found through this
                    // index, a board of n scores is written in n log n, not n squared.
                    Exec("CREATE INDEX IF NOT EXISTS scores_seq ON scores(seq)") &&
                    Exec("CREATE TABLE IF NOT EXISTS files(account INTEGER, name TEXT, data BLOB, PRIMARY KEY(account, name))");
    if (!ok && error) *error = std::string("cannot prepare ") + path + ": " + sqlite3_errmsg(db);
    if (ok && group)
        sqlite3_wal_hook(
            db,
            [](void* self, sqlite3*, const char*, int frames) {
                auto* store = static_cast<BrokerStore*>(self);
                store->logFrames = frames;
                ++store->commits;
                return SQLITE_OK;
            },
            this);
    return ok;
}

bool BrokerStore::Begin() {
    if (refusing) return false;
    if (!group) return true;
    if (inRound) {
        // A failed statement may have undone the whole transaction.
        if (sqlite3_get_autocommit(db)) roundLost = true;
        return !roundLost;
    }
    inRound = true;
    roundLost = !Exec("BEGIN");
    return !roundLost;
}

bool BrokerStore::CommitRound() {
    if (!inRound) return true;
    inRound = false;
    bool ok = !roundLost && !sqlite3_get_autocommit(db) && Exec("COMMIT");
    roundLost = false;
    if (!ok && !sqlite3_get_autocommit(db)) Exec("ROLLBACK");
    return ok;
}

bool BrokerStore::HasUser(uint32_t account, const std::string& persona) {
    Statement s(db, "SELECT 1 FROM users WHERE account = ? AND persona = ?");
    s.Int(1, account).Text(2, persona);
    return s.Row();
}

bool BrokerStore::IntegrityOk() {
    Statement s(db, "PRAGMA integrity_check");
    return s.Row() && s.ColText(0) == "ok";
}

bool BrokerStore::PutUser(uint32_t account, const std::string& persona) {
    if (!Begin()) return false;
    return Statement(db, "INSERT OR REPLACE INTO users(account, persona) VALUES(?, ?)").Int(1, account).Text(2, persona).Run();
}

std::string BrokerStore::Persona(uint32_t account) {
    Statement s(db, "SELECT persona FROM users WHERE account = ?");
    s.Int(1, account);
    return s.Row() ? s.ColText(0) : std::string();
}

// A write of several statements: all or none, inside the round's transaction or alone.
bool BrokerStore::Together(const std::function<bool()>& writes) {
    if (!Begin() || !Exec("SAVEPOINT together")) return false;
    const bool ok = writes();
    if (!ok) Exec("ROLLBACK TO together");
    return Exec("RELEASE together") && ok;
}

bool BrokerStore::AddFriends(uint32_t a, uint32_t b) {
    return Together([&] {
        return Statement(db, "INSERT OR IGNORE INTO friends(a, b) VALUES(?, ?)").Int(1, a).Int(2, b).Run() &&
               Statement(db, "INSERT OR IGNORE INTO friends(a, b) VALUES(?, ?)").Int(1, b).Int(2, a).Run();
    });
}

std::vector<uint32_t> BrokerStore::Friends(uint32_t account) {
    std::vector<uint32_t> out;
    Statement s(db, "SELECT b FROM friends WHERE a = ? ORDER BY b");
    s.Int(1, account);
    while (s.Row()) out.push_back(static_cast<uint32_t>(s.ColInt(0)));
    return out;
}

std::vector<std::pair<std::string, std::string>> BrokerStore::LoadStats(uint32_t account) {
    std::vector<std::pair<std::string, std::string>> out;
    Statement s(db, "SELECT name, value FROM stats WHERE account = ?");
    s.Int(1, account);
    while (s.Row()) out.emplace_back(s.ColText(0), s.ColText(1));
    return out;
}

std::vector<std::pair<std::string, int>> BrokerStore::LoadAchievements(uint32_t account) {
    std::vector<std::pair<std::string, int>> out;
    Statement s(db, "SELECT name, unlocked FROM achievements WHERE account = ?");
    s.Int(1, account);
    while (s.Row()) out.emplace_back(s.ColText(0), static_cast<int>(s.ColInt(1)));
    return out;
}

bool BrokerStore::SaveStats(uint32_t account, const std::vector<std::pair<std::string, std::string>>& stats,
                            const std::vector<std::pair<std::string, int>>& achievements) {
    return Together([&] {
        bool ok = true;
        for (const auto& [name, value] : stats)
            ok = ok && Statement(db, "INSERT OR REPLACE INTO stats(account, name, value) VALUES(?, ?, ?)")
                           .Int(1, account).Text(2, name).Text(3, value).Run();
        for (const auto& [name, unlocked] : achievements)
            ok = ok && Statement(db, "INSERT OR REPLACE INTO achievements(account, name, unlocked) VALUES(?, ?, ?)")
                           .Int(1, account).Text(2, name).Int(3, unlocked).Run();
        return ok;
    });
}

int64_t BrokerStore::FindBoard(const std::string& name, bool create, int32_t* sort) {
    {
        Statement s(db, "SELECT id, sort FROM boards WHERE name = ?");
        s.Text(1, name);
        if (s.Row()) {
            if (sort) *sort = static_cast<int32_t>(s.ColInt(1));
            return s.ColInt(0);
        }
    }
    if (!create || !DefineBoard(name, 2)) return 0;
    return FindBoard(name, false, sort);
}

bool BrokerStore::DefineBoard(const std::string& name, int32_t sort) {
    if (!Begin()) return false;
    return Statement(db, "INSERT INTO boards(name, sort) VALUES(?, ?) ON CONFLICT(name) DO UPDATE SET sort = excluded.sort")
        .Text(1, name).Int(2, sort).Run();
}

std::string BrokerStore::BoardName(int64_t board, int32_t* sort) {
    Statement s(db, "SELECT name, sort FROM boards WHERE id = ?");
    s.Int(1, board);
    if (!s.Row()) return std::string();
    if (sort) *sort = static_cast<int32_t>(s.ColInt(1));
    return s.ColText(0);
}

std::vector<StoredScore> BrokerStore::Ranked(int64_t board) {
    int32_t sort = 2;
    BoardName(board, &sort);
    std::vector<StoredScore> out;
    Statement s(db, sort == 1 ? "SELECT account, score, details FROM scores WHERE board = ? ORDER BY score ASC, seq ASC"
                              : "SELECT account, score, details FROM scores WHERE board = ? ORDER BY score DESC, seq ASC");
    s.Int(1, board);
    while (s.Row()) {
        StoredScore e;
        e.account = static_cast<uint32_t>(s.ColInt(0));
        e.score = static_cast<int32_t>(s.ColInt(1));
        e.details = UnpackDetails(s.ColBlob(2));
        out.push_back(std::move(e));
    }
    return out;
}

bool BrokerStore::PutScore(int64_t board, const StoredScore& score) {
    const std::vector<uint8_t> blob = PackDetails(score.details);
    if (!Begin()) return false;
    return Statement(db, "INSERT OR REPLACE INTO scores(board, account, score, details, seq) "
                         "VALUES(?, ?, ?, ?, (SELECT IFNULL(MAX(seq), 0) + 1 FROM scores))")
        .Int(1, board).Int(2, score.account).Int(3, score.score).Blob(4, blob.data(), blob.size()).Run();
}

bool BrokerStore::WriteFile(uint32_t account, const std::string& name, const void* data, size_t size) {
    if (!Begin()) return false;
    return Statement(db, "INSERT OR REPLACE INTO files(account, name, data) VALUES(?, ?, ?)")
        .Int(1, account).Text(2, name).Blob(3, data, size).Run();
}

bool BrokerStore::ReadFile(uint32_t account, const std::string& name, std::vector<uint8_t>* data) {
    Statement s(db, "SELECT data FROM files WHERE account = ? AND name = ?");
    s.Int(1, account).Text(2, name);
    if (!s.Row()) return false;
    *data = s.ColBlob(0);
    return true;
}

StoreSync::~StoreSync() {
    if (log >= 0) ::close(log);
    sqlite3_close(db);
}

bool StoreSync::Open(const std::string& path, std::string* error) {
    logPath = path + "-wal";
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
        if (error) *error = std::string("cannot open ") + path + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
        return false;
    }
    sqlite3_busy_timeout(db, 2000);
    if (sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr) != SQLITE_OK) {
        if (error) *error = std::string("cannot prepare ") + path + ": " + sqlite3_errmsg(db);
        return false;
    }
    return true;
}

namespace {

bool SyncDescriptor(int fd, bool data) {
    int rc;
    do rc = data ? ::fdatasync(fd) : ::fsync(fd);
    while (rc != 0 && errno == EINTR);
    return rc == 0;
}

}  // namespace

bool StoreSync::Sync() {
    if (log < 0) {
        const int opened = ::open(logPath.c_str(), O_RDONLY | O_CLOEXEC);
        // No log yet: nothing was committed.
        if (opened < 0) return errno == ENOENT;
        // The writer creates the log without synchronisation: its name in the folder
        // (and the database's, when new) must be on disk before any commit counts.
        const size_t slash = logPath.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : logPath.substr(0, slash);
        const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const bool named = dir >= 0 && SyncDescriptor(dir, false);
        if (dir >= 0) ::close(dir);
        if (!named) {
            ::close(opened);
            return false;
        }
        log = opened;
    }
    return SyncDescriptor(log, true);
}

bool StoreSync::Checkpoint() {
    // Passive: it never waits for the writer, which holds back its commits meanwhile.
    return sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr) == SQLITE_OK;
}

}  // namespace online
