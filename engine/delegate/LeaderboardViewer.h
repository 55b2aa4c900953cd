#pragma once
// LeaderboardViewer: a page model for showing a leaderboard in five pages of ranks
// around the current one. The game delegate creates it at init through
// GameDelegate::CreateLeaderboardViewer (which answers none in this game, so scripts see
// nil) and deletes it with itself.
//
// Modes: "Friends" 0 (pages of 101 ranks), "UserScore" 1 and "Overall" 2 (pages of 100).
// A table of (row name, row index) pairs names rows of three u32 columns; what fills it
// lies with the game's scripts.
//
// Threads: main thread.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/text/NameString.h"

class LeaderboardViewer {
public:
    static constexpr uint32_t kPageCount = 5;
    static constexpr uint32_t kPageRows = 101;
    static constexpr uint32_t kColumns = 3;
    enum Mode : uint32_t { kModeFriends = 0, kModeUserScore = 1, kModeOverall = 2 };
    // The state a page takes at a reset.
    static constexpr uint32_t kPageStateReset = 3;

    // One shown row: the player's name and the row's values.
    struct Entry {
        char name[128];
        uint32_t values[6];
    };
    static_assert(sizeof(Entry) == 152, "a viewer row is 152 bytes");

    struct Page {
        uint32_t state = 0;
        int32_t firstRank = 0;
        uint32_t count = 0;
        uint32_t capacity = 0;
        Entry* rows = nullptr;
    };

    LeaderboardViewer() = default;
    // Deletes the pages with their rows and clears the shown flag.
    virtual ~LeaderboardViewer();
    LeaderboardViewer(const LeaderboardViewer&) = delete;
    LeaderboardViewer& operator=(const LeaderboardViewer&) = delete;

    // "Friends", "UserScore" or "Overall" selects the mode (any other name keeps it); the
    // value is kept; then every page is reset.
    virtual void SetMode(const char* modeName, uint32_t value);
    virtual void Hide() { shown = false; }
    // The second, first and third column of the named row (case-insensitive); 0 when absent.
    virtual uint32_t GetRowSecondColumn(const char* rowName) const { return Column(rowName, 1); }
    virtual uint32_t GetRowFirstColumn(const char* rowName) const { return Column(rowName, 0); }
    virtual uint32_t GetRowThirdColumn(const char* rowName) const { return Column(rowName, 2); }
    // Raises the row's second column to value when value is larger (unsigned).
    virtual void RaiseRowSecondColumn(uint32_t row, uint32_t value);
    // A page's rows: kPageRows entries (zeroed); null when memory runs out.
    virtual Entry* AllocatePageRows();

    // The name table and its columns.
    void SetRowName(const char* rowName, uint32_t row);
    void SetColumn(uint32_t row, uint32_t column, uint32_t value);

    uint32_t GetMode() const { return mode; }
    uint32_t GetModeValue() const { return modeValue[0]; }
    bool IsShown() const { return shown; }
    void Show() { shown = true; }
    const Page* GetPage(uint32_t i) const { return i < kPageCount ? pages[i] : nullptr; }

private:
    struct RowName {
        NameString name;
        uint32_t row;
    };
    struct Columns {
        uint32_t values[kColumns];
    };
    void ResetPages();
    // Grows the columns to hold the row; false when it cannot.
    bool HaveRow(uint32_t row);
    uint32_t Column(const char* rowName, uint32_t column) const;

    uint32_t mode = kModeFriends;
    uint32_t modeValue[2] = {0, 0};
    bool shown = false;
    Page* pages[kPageCount] = {};
    DynarraySafe<RowName> rowNames;
    Dynarray<Columns> columns;
};
