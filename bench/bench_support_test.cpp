// The figure every benchmark prints: the median of the repetitions with their range, and
// the reporter that keeps every repetition's counters (never an aggregate row's).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/RateReporter.h"

namespace {

using benchsupport::Describe;
using benchsupport::RateReporter;
using benchsupport::RatioSpread;
using benchsupport::Spread;
using benchsupport::SpreadOf;
using BenchRun = benchmark::BenchmarkReporter::Run;

TEST(SpreadOf, MedianAndRangeOfTheFigures) {
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    struct Case {
        std::vector<double> figures;
        double median, min, max;
        size_t count;
    } cases[] = {
        {{3.0, 1.0, 2.0}, 2.0, 1.0, 3.0, 3},             // unsorted, odd count: the middle one
        {{4.0, 1.0, 3.0, 2.0}, 2.5, 1.0, 4.0, 4},        // even count: the mean of the middle two
        {{0.57}, 0.57, 0.57, 0.57, 1},                   // one repetition
        {{}, 0.0, 0.0, 0.0, 0},                          // nothing ran
        {{1.0, inf, 3.0, nan, 2.0}, 2.0, 1.0, 3.0, 3},   // a division by zero is left out
        {{0.04, 3.34, 3.30, 3.41}, 3.32, 0.04, 3.41, 4}, // an outlier moves the range, not the median
    };
    for (const Case& c : cases) {
        const Spread s = SpreadOf(c.figures);
        EXPECT_DOUBLE_EQ(s.median, c.median);
        EXPECT_DOUBLE_EQ(s.min, c.min);
        EXPECT_DOUBLE_EQ(s.max, c.max);
        EXPECT_EQ(s.count, c.count);
    }
}

TEST(RatioSpread, MedianOfThePairedRatiosNotRatioOfMedians) {
    // The second row tells the two apart: ratios 4, 1 and 0.75 have the median 1, while
    // the medians' ratio would be 3 / 2.
    struct Case {
        std::vector<double> numerator, denominator;
        double median, min, max;
        size_t count;
    } cases[] = {
        {{2, 1, 3}, {1, 2, 3}, 1.0, 0.5, 2.0, 3},
        {{4, 2, 3}, {1, 2, 4}, 1.0, 0.75, 4.0, 3},
        {{4, 2, 3}, {1, 0, 2}, 2.75, 1.5, 4.0, 2},  // a zero denominator is left out
        {{4, 2, 3}, {2, 1}, 2.0, 2.0, 2.0, 2},      // a repetition without a partner too
    };
    for (const Case& c : cases) {
        const Spread s = RatioSpread(c.numerator, c.denominator);
        EXPECT_DOUBLE_EQ(s.median, c.median);
        EXPECT_DOUBLE_EQ(s.min, c.min);
        EXPECT_DOUBLE_EQ(s.max, c.max);
        EXPECT_EQ(s.count, c.count);
    }
}

TEST(Describe, FigureWithItsRange) {
    EXPECT_EQ(Describe(SpreadOf({})), "n/a");
    EXPECT_EQ(Describe(SpreadOf({0.574})), "0.57");
    EXPECT_EQ(Describe(SpreadOf({0.55, 0.6, 0.57})), "0.57 (min-max 0.55-0.60 of 3)");
    EXPECT_EQ(Describe(SpreadOf({0.5514, 0.6, 0.57}), 3), "0.570 (min-max 0.551-0.600 of 3)");
}

BenchRun Row(const std::string& function, const std::string& args, double ratio, double seconds) {
    BenchRun r;
    r.run_name.function_name = function;
    r.run_name.args = args;
    r.run_name.min_time = "min_time:2.000";
    r.run_name.time_type = "real_time";
    r.iterations = 10;
    r.real_accumulated_time = 10 * seconds;
    r.cpu_accumulated_time = 5 * seconds;
    r.counters["ratio"] = benchmark::Counter(ratio);
    return r;
}

BenchRun Aggregate(BenchRun r, const char* name) {
    r.run_type = BenchRun::RT_Aggregate;
    r.aggregate_name = name;
    return r;
}

struct ReporterTest : testing::Test {
    std::ostringstream out, err;
    RateReporter reporter;
    ReporterTest() {
        reporter.SetOutputStream(&out);
        reporter.SetErrorStream(&err);
    }
};

TEST_F(ReporterTest, RepetitionsNeverAggregateRows) {
    // Three repetitions, then the aggregate rows a run with --benchmark_repetitions adds:
    // the stddev and cv rows carry a spread in the counter's place.
    const std::vector<double> ratios = {3.30, 3.41, 3.34};
    std::vector<BenchRun> runs;
    for (double r : ratios) runs.push_back(Row("BM_Pair", "", r, 0.002));
    runs.push_back(Aggregate(Row("BM_Pair", "", 3.35, 0.002), "mean"));
    runs.push_back(Aggregate(Row("BM_Pair", "", 3.34, 0.002), "median"));
    runs.push_back(Aggregate(Row("BM_Pair", "", 0.04, 0.0), "stddev"));
    runs.push_back(Aggregate(Row("BM_Pair", "", 0.01, 0.0), "cv"));
    BenchRun failed = Row("BM_Pair", "", 99, 1);
    failed.error_occurred = true;
    runs.push_back(failed);
    reporter.ReportRuns(runs);

    EXPECT_EQ(reporter.Values("BM_Pair", "ratio"), ratios);
    const Spread s = reporter.Of("BM_Pair", "ratio");
    EXPECT_DOUBLE_EQ(s.median, 3.34);
    EXPECT_DOUBLE_EQ(s.min, 3.30);
    EXPECT_DOUBLE_EQ(s.max, 3.41);
    // Found by the full name as well, and per iteration in seconds.
    EXPECT_EQ(reporter.Values("BM_Pair/min_time:2.000/real_time", "ratio"), ratios);
    EXPECT_DOUBLE_EQ(reporter.Median("BM_Pair", "real_s"), 0.002);
    EXPECT_DOUBLE_EQ(reporter.Median("BM_Pair", "cpu_s"), 0.001);
    EXPECT_TRUE(reporter.Values("BM_Missing", "ratio").empty());
    EXPECT_EQ(reporter.Median("BM_Missing", "ratio"), 0.0);
}

TEST_F(ReporterTest, RatioPairsTheRepetitionsOfTwoRuns) {
    // Each benchmark's repetitions arrive in a call of their own; arguments tell runs apart.
    reporter.ReportRuns({Row("BM_Ours", "64", 0, 0.004), Row("BM_Ours", "64", 0, 0.001), Row("BM_Ours", "64", 0, 0.003)});
    reporter.ReportRuns({Row("BM_Ours", "256", 0, 1.0)});
    // A run whose full name is its short name counts each repetition once.
    std::vector<BenchRun> theirs(3, Row("BM_Theirs", "64", 0, 0.002));
    for (BenchRun& r : theirs) r.run_name.min_time = r.run_name.time_type = "";
    reporter.ReportRuns(theirs);
    EXPECT_EQ(reporter.Values("BM_Theirs/64", "real_s").size(), 3u);
    const Spread s = reporter.Ratio("BM_Ours/64", "real_s", "BM_Theirs/64", "real_s");
    EXPECT_DOUBLE_EQ(s.median, 1.5);
    EXPECT_DOUBLE_EQ(s.min, 0.5);
    EXPECT_DOUBLE_EQ(s.max, 2.0);
    EXPECT_EQ(s.count, 3u);
    EXPECT_DOUBLE_EQ(reporter.Median("BM_Ours/256", "real_s"), 1.0);
}

TEST_F(ReporterTest, MedianRowStandsInWhenOnlyAggregatesWereReported) {
    reporter.ReportRuns({Aggregate(Row("BM_Pair", "", 3.35, 0.002), "mean"),
                         Aggregate(Row("BM_Pair", "", 3.34, 0.002), "median"),
                         Aggregate(Row("BM_Pair", "", 0.04, 0.0), "stddev")});
    EXPECT_EQ(reporter.Values("BM_Pair", "ratio"), std::vector<double>{3.34});
}

}  // namespace
