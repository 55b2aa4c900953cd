#pragma once
// One row of broker_load's table per step: what the players measured, what the broker
// used, and whether the step met the goals (the first step that misses them ends the run).
// A step fails on any error, on a broker that did not end cleanly, on a sign-in or frame
// p99 above its goal or not measured at all, on more frames lost than the drops and the
// step's end explain, and on more broker memory per connection than the goal.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/brokerload/LoadPlayers.h"

namespace brokerload {

// The goals a step must meet.
constexpr double kGoalSignInP99Ms = 500;
constexpr double kGoalFrameP99Ms = 50;
constexpr double kGoalKbPerConnection = 100;

struct BrokerFigures {
    bool known = false;       // false: a broker of someone else's, not measured
    double cpuShare = 0;      // of one core, over the step
    double residentMb = 0;    // the most during the step
    double kbPerConnection = 0;  // resident growth over the idle broker, per connection held at the peak
    double databaseMb = 0;    // database and its write-ahead log at the end
    std::string ended;        // how the broker ended when it was not cleanly: "" when it was
};

struct StepRow {
    std::vector<std::string> cells;  // one per column, "-" for a figure without samples
    bool passed = false;
};

// The q-quantile (0..1] of latencies in microseconds by nearest rank, in milliseconds;
// NaN when empty.
double QuantileMs(std::vector<uint32_t> samples, double q);

const std::vector<std::string>& Columns();
StepRow MakeRow(int players, double seconds, const LoadResult& result, int peakSignedIn, int peakPairs,
                const BrokerFigures& broker);
std::string TableLine(const std::vector<std::string>& cells);  // aligned under the header
std::string CsvLine(const std::vector<std::string>& cells);

}  // namespace brokerload
