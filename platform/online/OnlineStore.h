#pragma once
// Durable broker state in SQLite (private to the broker). Write-ahead log with full
// synchronisation: a call that returns true has committed its change to disk.
#include <cstdint>
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

    bool PutUser(uint32_t account, const std::string& persona);
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

private:
    bool Exec(const char* sql);
    sqlite3* db = nullptr;
};

}  // namespace online
