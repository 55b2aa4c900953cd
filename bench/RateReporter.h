#pragma once
// A console reporter that remembers every counter of every repetition of every benchmark,
// so that a program can print its figures after the runs: the median of the repetitions'
// figures (or of their ratios) with their range, through SpreadOf. Aggregate rows (mean,
// median, stddev, cv) are never taken for a repetition; only when the single rows were not
// reported (--benchmark_display_aggregates_only) does the median row stand in for them.
//
// A run is found by its full name ("BM_X/4/min_time:2.000/real_time") or by its function
// name and arguments alone ("BM_X/4"). Besides its counters, every run has "real_s" and
// "cpu_s": the wall and CPU seconds of one iteration.
#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

#include "BenchSupport.h"

namespace benchsupport {

class RateReporter : public benchmark::ConsoleReporter {
public:
    explicit RateReporter(OutputOptions options = OO_Defaults) : ConsoleReporter(options) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.error_occurred) continue;
            const bool single = r.run_type != Run::RT_Aggregate;
            if (!single && r.aggregate_name != "median") continue;
            std::map<std::string, double> figures;
            for (const auto& [name, counter] : r.counters) figures[name] = counter.value;
            if (r.iterations > 0) {
                const double n = static_cast<double>(r.iterations);
                figures["real_s"] = r.real_accumulated_time / n;
                figures["cpu_s"] = r.cpu_accumulated_time / n;
            }
            std::string shortName = r.run_name.function_name;
            if (!r.run_name.args.empty()) shortName += "/" + r.run_name.args;
            auto& into = single ? repetitions : medians;
            for (const auto& [counter, value] : figures) {
                into[{r.run_name.str(), counter}].push_back(value);
                if (shortName != r.run_name.str()) into[{shortName, counter}].push_back(value);
            }
        }
    }

    // Every repetition's value of the counter of the named run, in the order they ran;
    // empty when it did not run.
    std::vector<double> Values(const std::string& run, const std::string& counter) const {
        auto it = repetitions.find({run, counter});
        if (it != repetitions.end()) return it->second;
        it = medians.find({run, counter});
        return it != medians.end() ? it->second : std::vector<double>{};
    }

    // The spread of one counter over the repetitions.
    Spread Of(const std::string& run, const std::string& counter) const { return SpreadOf(Values(run, counter)); }

    // The median of one counter over the repetitions; 0 when it did not run.
    double Median(const std::string& run, const std::string& counter) const { return Of(run, counter).median; }

    // The spread of numerator / denominator, one ratio per repetition.
    Spread Ratio(const std::string& numeratorRun, const std::string& numeratorCounter, const std::string& denominatorRun,
                 const std::string& denominatorCounter) const {
        return RatioSpread(Values(numeratorRun, numeratorCounter), Values(denominatorRun, denominatorCounter));
    }

private:
    std::map<std::pair<std::string, std::string>, std::vector<double>> repetitions, medians;
};

}  // namespace benchsupport
