// test-sanitize: thread address
// test-timeout: 240
// Analytics records posted by the server-request worker to tests/net/online/
// analytics_server.py on 127.0.0.1 (started and stopped by each test), whose record of
// every request Python checks: the body's JSON, its key order and trailing newline, the
// signature in the query. The answers the server gives decide each post's result. Also
// the digest against RFC 1321's vectors and the worker's job order.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "CaptureLogSink.h"
#include "ShellCommand.h"
#include "core/Log.h"
#include "net/online/ServerRequestThread.h"
#include "net/online/VornexAnalytics.h"
#include "platform/online/HttpPost.h"

namespace {

const std::string kServer = PROJECT_SOURCE_ROOT "/tests/net/online/analytics_server.py";

bool WaitFor(const std::function<bool()>& done, int milliseconds = 20000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// One analytics_server.py in a folder of its own; stopped and removed with the object.
class Server {
public:
    explicit Server(const std::string& mode) {
        char pattern[] = "/tmp/analyticsXXXXXX";
        folder = mkdtemp(pattern);
        shelltest::Shell("/usr/bin/python3 " + kServer + " --mode " + mode + " --dir " + folder + " &");
        started = WaitFor([&] { return std::filesystem::exists(folder + "/port"); }, 10000);
        if (started) std::ifstream(folder + "/port") >> port;
    }
    ~Server() {
        Touch("stop");
        // The server notices the stop file within a few tens of milliseconds.
        WaitFor([&] { return !std::filesystem::exists("/proc/" + Pid()); }, 5000);
        std::filesystem::remove_all(folder);
    }
    std::string Host() const { return "127.0.0.1:" + std::to_string(port); }
    void Touch(const std::string& name) const { std::ofstream(folder + "/" + name) << "1"; }
    // One line per request the server received: path, signature check, trailing newline,
    // ascending keys, and the body as canonical JSON.
    std::vector<std::string> Requests() const {
        const std::string script =
            "import json,sys\n"
            "def pairs(p):\n"
            "  keys=[k for k,_ in p]\n"
            "  if keys!=sorted(keys): raise SystemExit('keys out of order: %r'%keys)\n"
            "  return dict(p)\n"
            "try: lines=open(sys.argv[1]).read().splitlines()\n"
            "except FileNotFoundError: lines=[]\n"
            "for l in lines:\n"
            "  r=json.loads(l); b=r['body']\n"
            "  o=json.loads(b, object_pairs_hook=pairs)\n"
            "  nl=int(b.endswith('\\n') and not b[:-1].endswith('\\n') and '\\n' not in b[:-1])\n"
            "  print(r['path'], int(r['md5ok']), nl, json.dumps(o, sort_keys=True, separators=(',',':'), ensure_ascii=False))\n";
        std::ofstream(folder + "/check.py") << script;
        const std::string out = shelltest::ShellOutput("PYTHONIOENCODING=utf-8 /usr/bin/python3 " + folder + "/check.py " + folder + "/requests 2>&1");
        std::vector<std::string> lines;
        size_t at = 0;
        while (at < out.size()) {
            const size_t end = out.find('\n', at);
            lines.push_back(out.substr(at, end == std::string::npos ? std::string::npos : end - at));
            if (end == std::string::npos) break;
            at = end + 1;
        }
        return lines;
    }
    size_t RequestCount() const {
        std::ifstream in(folder + "/requests");
        size_t n = 0;
        for (std::string line; std::getline(in, line);) ++n;
        return n;
    }

    bool started = false;

private:
    std::string Pid() const {
        std::string pid;
        std::ifstream(folder + "/pid") >> pid;
        return pid.empty() ? "0" : pid;
    }
    std::string folder;
    int port = 0;
};

// The worker and analytics for one test, with the host given (empty: unset).
class AnalyticsTest : public ::testing::Test {
protected:
    void Start(const std::string& host) {
        if (host.empty())
            unsetenv("ANALYTICS_HOST");
        else
            setenv("ANALYTICS_HOST", host.c_str(), 1);
        sink.Attach();
        StartServerRequestThread();
        ASSERT_NE(gServerRequestThread, nullptr);
        gVornexAnalytics.Init();
    }
    void TearDown() override {
        gVornexAnalytics.Shutdown();
        StopServerRequestThread();
        unsetenv("ANALYTICS_HOST");
    }
    int Completed() {
        int n = 0;
        for (const auto& m : sink.Messages()) n += m.text.rfind("Request complete: ", 0) == 0;
        return n;
    }
    std::vector<std::string> Results() {
        std::vector<std::string> r;
        for (const auto& m : sink.Messages())
            if (m.text.rfind("Request complete: ", 0) == 0) r.push_back(m.text.substr(18));
        return r;
    }
    bool WaitCompleted(int n, int milliseconds = 20000) {
        return WaitFor([&] { return Completed() >= n; }, milliseconds);
    }
    // One record: the table and a single integer.
    static void Post(const char* table, int value) {
        gVornexAnalytics.Begin(table);
        gVornexAnalytics.AddInt("v", value);
        gVornexAnalytics.End(true);
    }

    CaptureLogSink sink;
};

TEST(AnalyticsDigest, MatchesTheRfc1321Vectors) {
    const struct {
        const char* text;
        const char* md5;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) EXPECT_EQ(online::Md5Hex(c.text, std::strlen(c.text)), c.md5) << c.text;
    // The signature is the digest of the body followed by the sealing phrase.
    EXPECT_EQ(VornexAnalytics::Digest("{}\n"), online::Md5Hex("{}\nSealingPhraseAbc", 19));
}

TEST_F(AnalyticsTest, BodiesAreSignedCompactJsonWithKeysAscending) {
    Server server("record");
    ASSERT_TRUE(server.started);
    Start(server.Host());
    gVornexAnalytics.Begin("Session");
    gVornexAnalytics.AddInt("b", 2);
    gVornexAnalytics.AddInt("a", 1);
    gVornexAnalytics.AddInt("a", 3);  // the later value of a name and kind wins
    gVornexAnalytics.AddFloat("a", 1.5f);
    gVornexAnalytics.AddString("s", "h\xC3\xA9 \"q\"");
    gVornexAnalytics.AddString("empty", "");
    gVornexAnalytics.AddString("none", nullptr);
    gVornexAnalytics.End(true);
    gVornexAnalytics.Begin("Strings");
    gVornexAnalytics.AddString("only", "x");
    gVornexAnalytics.End(true);
    gVornexAnalytics.Begin("Nothing");
    gVornexAnalytics.End(true);
    ASSERT_TRUE(WaitCompleted(3));
    EXPECT_EQ(Results(), (std::vector<std::string>{"1", "1", "1"}));
    const std::vector<std::string> expected = {
        "/xray/AnalyticsServlet 1 1 "
        "{\"floatValues\":{\"a\":1.5},\"intValues\":{\"a\":3,\"b\":2},"
        "\"stringValues\":{\"empty\":\"\",\"none\":\"\",\"s\":\"h\xC3\xA9 \\\"q\\\"\"},\"tableName\":\"Session\"}",
        "/xray/AnalyticsServlet 1 1 "
        "{\"floatValues\":null,\"intValues\":null,\"stringValues\":{\"only\":\"x\"},\"tableName\":\"Strings\"}",
        "/xray/AnalyticsServlet 1 1 "
        "{\"floatValues\":null,\"intValues\":null,\"stringValues\":null,\"tableName\":\"Nothing\"}",
    };
    EXPECT_EQ(server.Requests(), expected);
    EXPECT_TRUE(sink.Contains("VornexAnalytics: Begin [Session]"));
    EXPECT_TRUE(sink.Contains("VornexAnalytics: End [1]"));
    // Every line of the client and its worker is information of the network category.
    for (const auto& m : sink.Messages()) {
        SCOPED_TRACE(m.text);
        EXPECT_EQ(m.severity, static_cast<uint8_t>(LogSeverity::Information));
        EXPECT_EQ(m.category, static_cast<uint8_t>(LogCategory::Network));
    }
    EXPECT_TRUE(sink.Contains("Request to send:\n{\"floatValues\":null,\"intValues\":null,\"stringValues\":null,"
                              "\"tableName\":\"Nothing\"}\n"));
}

TEST_F(AnalyticsTest, NamesAreCutTo127BytesOnACharacterBoundary) {
    Server server("record");
    ASSERT_TRUE(server.started);
    Start(server.Host());
    const std::string longName(200, 'n');
    // 126 ASCII bytes, then a two-byte character across the 127-byte limit.
    const std::string split = std::string(126, 'm') + "\xC3\xA9" + "tail";
    gVornexAnalytics.Begin(longName.c_str());
    gVornexAnalytics.AddInt(longName.c_str(), 1);
    gVornexAnalytics.AddInt(split.c_str(), 2);
    gVornexAnalytics.End(true);
    ASSERT_TRUE(WaitCompleted(1));
    const std::string cut(127, 'n');
    const std::vector<std::string> expected = {"/xray/AnalyticsServlet 1 1 {\"floatValues\":null,\"intValues\":{\"" +
                                               std::string(126, 'm') + "\":2,\"" + cut +
                                               "\":1},\"stringValues\":null,\"tableName\":\"" + cut + "\"}"};
    EXPECT_EQ(server.Requests(), expected);
}

TEST_F(AnalyticsTest, NinthRecordWhileEightAreInFlightGrowsThePool) {
    Server server("hold");
    ASSERT_TRUE(server.started);
    Start(server.Host());
    for (int i = 0; i < 9; ++i) Post("Held", i);
    EXPECT_TRUE(sink.Contains("VornexAnalytics: no idle requests - resizing request list [8 -> 16]"));
    EXPECT_EQ(gVornexAnalytics.SlotCount(), 9u);
    EXPECT_EQ(Completed(), 0);
    server.Touch("release");
    ASSERT_TRUE(WaitCompleted(9));
    EXPECT_EQ(server.RequestCount(), 9u);
    // Every slot is idle again: a tenth record reuses one.
    Post("Again", 10);
    EXPECT_EQ(gVornexAnalytics.SlotCount(), 9u);
    ASSERT_TRUE(WaitCompleted(10));
}

TEST_F(AnalyticsTest, EndWithoutSendPostsNothing) {
    Server server("record");
    ASSERT_TRUE(server.started);
    Start(server.Host());
    gVornexAnalytics.Begin("Dropped");
    gVornexAnalytics.AddInt("v", 1);
    gVornexAnalytics.End(false);
    EXPECT_TRUE(sink.Contains("VornexAnalytics: End [0]"));
    gVornexAnalytics.AddInt("late", 2);  // no record is open
    Post("Kept", 2);
    ASSERT_TRUE(WaitCompleted(1));
    gServerRequestThread->Flush();
    const std::vector<std::string> expected = {
        "/xray/AnalyticsServlet 1 1 {\"floatValues\":null,\"intValues\":{\"v\":2},\"stringValues\":null,\"tableName\":\"Kept\"}"};
    EXPECT_EQ(server.Requests(), expected);
    EXPECT_EQ(Completed(), 1);
}

// The answer decides the result: only a completed transfer with a 2xx status succeeds;
// whatever body comes is read and dropped. An answer cut short of the length it
// announced is a failed transfer; one without a length ends where the connection does.
TEST_F(AnalyticsTest, ResultFollowsTheServersAnswer) {
    const struct {
        const char* mode;
        const char* result;
    } cases[] = {{"record", "1"}, {"status500", "0"}, {"malformed", "1"}, {"big", "1"}, {"cut", "1"}, {"cutlength", "0"}};
    Start("");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        Server server(c.mode);
        ASSERT_TRUE(server.started);
        VornexAnalytics::SetHost(server.Host().c_str());
        sink.Clear();
        Post("Answer", 1);
        ASSERT_TRUE(WaitCompleted(1));
        EXPECT_EQ(Results(), std::vector<std::string>{c.result});
        EXPECT_EQ(server.RequestCount(), 1u);
    }
}

TEST_F(AnalyticsTest, BigAnswerIsDiscardedAsItArrives) {
    Server server("big");
    ASSERT_TRUE(server.started);
    const std::string url = "http://" + server.Host() + "/xray/AnalyticsServlet?x=0";
    ASSERT_TRUE(online::HttpGlobalInit());
    const online::HttpPostResult r = online::HttpPost(url.c_str(), "{}\n", 10);
    online::HttpGlobalCleanup();
    EXPECT_TRUE(r.Succeeded());
    EXPECT_EQ(r.answerBytes, 10u * 1024 * 1024);
}

TEST_F(AnalyticsTest, NoHostOrNoServerFailsWithoutRetry) {
    // A port nobody listens on: a server that has stopped.
    std::string refused;
    {
        Server gone("record");
        ASSERT_TRUE(gone.started);
        refused = gone.Host();
    }
    Server server("record");
    ASSERT_TRUE(server.started);
    Start("");
    Post("Unset", 1);
    ASSERT_TRUE(WaitCompleted(1));
    EXPECT_TRUE(sink.Contains("Request to send:\n"));
    VornexAnalytics::SetHost(refused.c_str());
    Post("Refused", 2);
    ASSERT_TRUE(WaitCompleted(2));
    EXPECT_EQ(Results(), (std::vector<std::string>{"0", "0"}));
    EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(AnalyticsTest, ServerThatNeverAnswersTimesOutWhileTheMainThreadGoesOn) {
    Server server("never");
    ASSERT_TRUE(server.started);
    Start(server.Host());
    const auto start = std::chrono::steady_clock::now();
    Post("Silent", 1);
    ASSERT_TRUE(WaitFor([&] { return server.RequestCount() == 1; }, 5000));
    // The post is stuck on the worker; the main thread's calls still run through.
    for (int i = 0; i < 20; ++i) Post("Meanwhile", i);
    EXPECT_EQ(Completed(), 0);
    ASSERT_TRUE(WaitCompleted(1, 30000));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(Results().at(0), "0");
    EXPECT_GE(seconds, 9.0);
    server.Touch("stop");  // lets the worker's later posts fail fast
    ASSERT_TRUE(WaitCompleted(21, 60000));
}

TEST_F(AnalyticsTest, ShutdownWaitsForThePostInFlight) {
    Server server("hold");
    ASSERT_TRUE(server.started);
    Start(server.Host());
    Post("Last", 1);
    ASSERT_TRUE(WaitFor([&] { return server.RequestCount() == 1; }, 5000));
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        server.Touch("release");
    });
    gVornexAnalytics.Shutdown();
    release.join();
    EXPECT_EQ(Results(), std::vector<std::string>{"1"});
    EXPECT_FALSE(gVornexAnalytics.IsInitialised());
    // After shutdown calls only log.
    Post("After", 2);
    EXPECT_EQ(gVornexAnalytics.SlotCount(), 0u);
    EXPECT_EQ(gVornexAnalytics.CurrentRequest(), VornexAnalytics::kNoRequest);
}

TEST(ServerRequestThreadTest, RunsJobsInPostingOrderAndStops) {
    const WorkerSettings& settings = kWorkerSettings[WORKER_SERVER_REQUEST];
    EXPECT_STREQ(settings.name, "ServerRequestThread");
    EXPECT_EQ(settings.ringBytes, 8192u);
    EXPECT_FALSE(settings.useLock);
    EXPECT_EQ(settings.waitTimeoutMs, BaseThread::kWaitForever);
    StartServerRequestThread();
    ASSERT_NE(gServerRequestThread, nullptr);
    EXPECT_STREQ(gServerRequestThread->Name(), "ServerRequestThread");
    EXPECT_TRUE(gServerRequestThread->IsRunning());
    static std::vector<int> order;
    order.clear();
    for (int i = 0; i < 200; ++i)
        BaseThread::PostCallOrRunInline(
            gServerRequestThread, [](void*, const uint8_t* p, uint32_t) { order.push_back(*p); }, nullptr, &i, 1);
    StopServerRequestThread();
    EXPECT_EQ(gServerRequestThread, nullptr);
    ASSERT_EQ(order.size(), 200u);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(order[i], i & 0xFF);
}

}  // namespace
