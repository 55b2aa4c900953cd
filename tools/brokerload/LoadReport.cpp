// broker_load's table rows (see LoadReport.h).
#include "tools/brokerload/LoadReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace brokerload {

double QuantileMs(std::vector<uint32_t> samples, double q) {
    if (samples.empty()) return NAN;
    // The nearest rank: the smallest sample with at least q of all samples at or below it.
    const double rank = std::ceil(q * static_cast<double>(samples.size()));
    const size_t k = std::min(samples.size() - 1, static_cast<size_t>(std::max(rank, 1.0)) - 1);
    std::nth_element(samples.begin(), samples.begin() + static_cast<long>(k), samples.end());
    return samples[k] / 1000.0;
}

const std::vector<std::string>& Columns() {
    static const std::vector<std::string> columns = {
        "players",      "signed_in",    "pairs",        "signin_p50",  "signin_p99", "search_p99",
        "frame_p50",    "frame_p99",    "frames_per_s", "stats_p99",   "score_p99",  "errors",
        "refused",      "cpu_core",     "rss_mb",       "kb_per_conn", "db_mb",      "result"};
    return columns;
}

namespace {

std::string Number(double v, int decimals) {
    if (std::isnan(v)) return "-";
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

}  // namespace

StepRow MakeRow(int players, double seconds, const LoadResult& result, int peakSignedIn, int peakPairs,
                const BrokerFigures& broker) {
    const double signInP99 = QuantileMs(result.signIn, 0.99);
    const double frameP99 = QuantileMs(result.frame, 0.99);
    std::vector<std::string> missed;
    if (result.Errors()) missed.push_back("errors");
    if (!broker.ended.empty()) missed.push_back("broker");
    // A latency nobody measured is no latency met: nobody signed in, or no frame came.
    if (!(signInP99 <= kGoalSignInP99Ms)) missed.push_back("signin");
    if (!(frameP99 <= kGoalFrameP99Ms)) missed.push_back("frame");
    if (result.framesSent > result.framesReceived + result.framesExcused) missed.push_back("frames");
    if (broker.known && broker.kbPerConnection > kGoalKbPerConnection) missed.push_back("memory");
    std::string verdict = missed.empty() ? "ok" : "fail:";
    for (size_t i = 0; i < missed.size(); ++i) verdict += (i ? "+" : "") + missed[i];  // no comma: a CSV cell
    const auto figure = [&](double v, int decimals) { return broker.known ? Number(v, decimals) : std::string("-"); };
    StepRow row;
    row.passed = missed.empty();
    row.cells = {std::to_string(players),
                 std::to_string(peakSignedIn),
                 std::to_string(peakPairs),
                 Number(QuantileMs(result.signIn, 0.5), 2),
                 Number(signInP99, 2),
                 Number(QuantileMs(result.search, 0.99), 2),
                 Number(QuantileMs(result.frame, 0.5), 2),
                 Number(frameP99, 2),
                 Number(static_cast<double>(result.framesReceived) / seconds, 0),
                 Number(QuantileMs(result.stats, 0.99), 2),
                 Number(QuantileMs(result.score, 0.99), 2),
                 std::to_string(result.Errors()),
                 std::to_string(result.refused),
                 figure(broker.cpuShare, 2),
                 figure(broker.residentMb, 1),
                 figure(broker.kbPerConnection, 1),
                 figure(broker.databaseMb, 2),
                 verdict};
    return row;
}

std::string TableLine(const std::vector<std::string>& cells) {
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) {
        const size_t width = std::max<size_t>(Columns()[i].size(), 6);
        std::string cell = cells[i];
        if (i + 1 < cells.size() && cell.size() < width) cell.insert(0, width - cell.size(), ' ');
        line += (i ? " " : "") + cell;
    }
    return line;
}

std::string CsvLine(const std::vector<std::string>& cells) {
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) line += (i ? "," : "") + (cells[i] == "-" ? std::string() : cells[i]);
    return line;
}

}  // namespace brokerload
