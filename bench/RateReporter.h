#pragma once
// A console reporter that remembers one counter of every benchmark by run name, so that a
// program can print its ratios after the runs: the median row when --benchmark_repetitions
// is given (the single rows may not even be reported), else the one row.
#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace benchsupport {

class RateReporter : public benchmark::ConsoleReporter {
public:
    explicit RateReporter(const char* counterName, OutputOptions options = OO_Defaults)
        : ConsoleReporter(options), counter(counterName) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            const auto it = r.counters.find(counter);
            if (it == r.counters.end()) continue;
            if (r.run_type != Run::RT_Aggregate)
                single[r.run_name.str()] = it->second.value;
            else if (r.aggregate_name == "median")
                median[r.run_name.str()] = it->second.value;
        }
    }

    // The counter of the named run; 0 when it did not run.
    double Rate(const std::string& name) const {
        auto m = median.find(name);
        if (m != median.end()) return m->second;
        auto s = single.find(name);
        return s != single.end() ? s->second : 0.0;
    }

private:
    std::string counter;
    std::map<std::string, double> single, median;
};

}  // namespace benchsupport
