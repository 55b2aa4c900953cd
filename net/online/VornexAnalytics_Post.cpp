// The worker side of analytics: the JSON body, its digest, the post and the two jobs.
#include <json/json.h>

#include <cstring>
#include <string>

#include "core/Log.h"
#include "net/online/ServerRequestThread.h"
#include "net/online/VornexAnalytics.h"
#include "platform/online/HttpPost.h"

namespace {

// Part of the configuration, never sent.
constexpr char kSealingPhrase[] = "SealingPhraseAbc";
constexpr char kDefaultPort[] = "8080";
constexpr long kPostTimeoutSeconds = 10;

// Written by Init on the main thread before any job is posted (the ring's commit
// publishes it to the worker); read by the worker.
std::string gHost;

void RunJob(void* argument, const uint8_t* payload, uint32_t bytes) {
    VornexAnalyticsRequestInternals* request = nullptr;
    if (bytes < sizeof request) return;
    std::memcpy(&request, payload, sizeof request);
    if (!request) return;
    if (reinterpret_cast<uintptr_t>(argument) == VornexAnalytics::kJobDelete) {
        delete request;
        return;
    }
    const std::string body = request->Body();
    gLog.Print(LogSeverity::Information, LogCategory::Network, "Request to send:\n%s", body.c_str());
    const bool ok = VornexAnalytics::Post(body);
    request->result = ok ? 0 : 1;
    request->Clear();
    gLog.Print(LogSeverity::Information, LogCategory::Network, "Request complete: %d", ok ? 1 : 0);
    request->done.store(1, std::memory_order_release);
}

}  // namespace

std::string VornexAnalyticsRequestInternals::Body() const {
    Json::Value root(Json::objectValue);
    Json::Value floats(Json::nullValue), ints(Json::nullValue), strings(Json::nullValue);
    for (uint32_t i = 0; i < values.Count(); ++i) {
        const VornexAnalyticsValue& v = *values[i];
        switch (v.kind) {
        case VornexAnalyticsValue::kInt:
            ints[v.name] = Json::Value(v.intValue);
            break;
        case VornexAnalyticsValue::kFloat:
            floats[v.name] = Json::Value(static_cast<double>(v.floatValue));
            break;
        default:
            strings[v.name] = Json::Value(v.stringValue ? v.stringValue : "");
            break;
        }
    }
    root["floatValues"] = floats;
    root["intValues"] = ints;
    root["stringValues"] = strings;
    root["tableName"] = Json::Value(tableName);
    // The compact writer the server's signature is computed over; deprecated in this
    // JsonCpp but still what the format is defined by.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    Json::FastWriter writer;
    return writer.write(root);
#pragma GCC diagnostic pop
}

void VornexAnalytics::SetHost(const char* host) { gHost = host ? host : ""; }

std::string VornexAnalytics::Digest(const std::string& body) {
    const std::string text = body + kSealingPhrase;
    return online::Md5Hex(text.data(), text.size());
}

bool VornexAnalytics::Post(const std::string& body) {
    if (gHost.empty()) return false;
    std::string url = "http://" + gHost;
    // A host without a port of its own takes the service's.
    const size_t colon = gHost.rfind(':');
    const size_t bracket = gHost.rfind(']');
    if (colon == std::string::npos || (bracket != std::string::npos && bracket > colon)) url += std::string(":") + kDefaultPort;
    url += "/xray/AnalyticsServlet?x=" + Digest(body);
    return online::HttpPost(url.c_str(), body.c_str(), kPostTimeoutSeconds).Succeeded();
}

void VornexAnalytics::PostJob(VornexAnalyticsRequestInternals* request, JobArgument argument) {
    BaseThread::PostCallOrRunInline(gServerRequestThread, &RunJob, reinterpret_cast<void*>(static_cast<uintptr_t>(argument)),
                                    &request, sizeof request);
}
