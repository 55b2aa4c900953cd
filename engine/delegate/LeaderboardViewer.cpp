// The leaderboard viewer's pages, modes and named rows.
#include "engine/delegate/LeaderboardViewer.h"

#include <cstdint>
#include <cstring>

namespace {
// Ranks per page: a friends page holds one rank more.
constexpr int32_t kRanksPerPage = 100;
constexpr int32_t kFriendsRanksPerPage = 101;
// The current page is the middle one of five.
constexpr int32_t kCurrentPage = 2;
}  // namespace

LeaderboardViewer::~LeaderboardViewer() {
    for (Page*& p : pages) {
        if (p) delete[] p->rows;
        delete p;
        p = nullptr;
    }
    shown = false;
}

void LeaderboardViewer::SetMode(const char* modeName, uint32_t value) {
    modeValue[0] = modeValue[1] = value;
    if (modeName) {
        if (std::strcmp(modeName, "Friends") == 0)
            mode = kModeFriends;
        else if (std::strcmp(modeName, "UserScore") == 0)
            mode = kModeUserScore;
        else if (std::strcmp(modeName, "Overall") == 0)
            mode = kModeOverall;
    }
    ResetPages();
}

void LeaderboardViewer::ResetPages() {
    const int32_t perPage = mode == kModeFriends ? kFriendsRanksPerPage : kRanksPerPage;
    for (uint32_t i = 0; i < kPageCount; ++i) {
        if (!pages[i]) {
            pages[i] = new Page;
            pages[i]->rows = AllocatePageRows();
            pages[i]->capacity = pages[i]->rows ? kPageRows : 0;
        }
        Page& p = *pages[i];
        p.state = kPageStateReset;
        p.firstRank = (static_cast<int32_t>(i) - kCurrentPage) * perPage + 1;
        p.count = 0;
    }
}

LeaderboardViewer::Entry* LeaderboardViewer::AllocatePageRows() { return new Entry[kPageRows](); }

void LeaderboardViewer::SetRowName(const char* rowName, uint32_t row) {
    if (!rowName) return;
    rowNames.Add(RowName{NameString(rowName), row});
}

bool LeaderboardViewer::HaveRow(uint32_t row) {
    if (row < columns.Count()) return true;
    // The last index has no count after it (row + 1 would wrap and shrink the table).
    return row != UINT32_MAX && columns.Resize(row + 1);
}

void LeaderboardViewer::SetColumn(uint32_t row, uint32_t column, uint32_t value) {
    if (column >= kColumns || !HaveRow(row)) return;
    columns[row].values[column] = value;
}

void LeaderboardViewer::RaiseRowSecondColumn(uint32_t row, uint32_t value) {
    if (!HaveRow(row)) return;
    if (value > columns[row].values[1]) columns[row].values[1] = value;
}

uint32_t LeaderboardViewer::Column(const char* rowName, uint32_t column) const {
    if (!rowName) return 0;
    for (const RowName& r : rowNames) {
        if (CompareNoCase(r.name.CStr(), rowName) != 0) continue;
        return r.row < columns.Count() ? columns[r.row].values[column] : 0;
    }
    return 0;
}
