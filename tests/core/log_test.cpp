// test-sanitize: thread address
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "CaptureLogSink.h"
#include "core/Log.h"

namespace {

struct FrameInfo {  // restores the process-wide mode and frame numbers
    explicit FrameInfo(uint8_t mode) { Log::SetFrameInfoMode(mode); }
    ~FrameInfo() {
        Log::SetFrameInfoMode(LOG_FRAME_INFO_DISABLED);
        SetLogFrameNumbers(0, 0);
    }
};

std::vector<std::pair<uint32_t, std::string>> gCallbackCalls;
void RecordCallback(uint32_t severity, uint32_t category, const char* text) {
    gCallbackCalls.emplace_back(severity * 100 + category, text);
}

// The record is severity, category, text and NUL; long texts are cut to 1024 bytes, but
// never the frame suffix.
TEST(Log, MessageRecordsAndCuts) {
    CaptureLogSink sink;
    sink.Attach();
    gLog.Print(LogSeverity::Progress, LogCategory::Engine, "hello %d", 42);
    gLog.Warning(LogCategory::UI, "w");
    gLog.ErrorText("100%s %n %d");  // the text is never a format
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "%s", std::string(9000, 'x').c_str());
    FrameInfo mode(LOG_FRAME_INFO_EVERY_LINE);
    SetLogFrameNumbers(12, 345);
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "%s", std::string(1024, 'y').c_str());
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "plain");  // other categories carry no frame information
    const auto m = sink.Messages();
    ASSERT_EQ(m.size(), 6u);
    EXPECT_EQ(m[0].payload, (std::vector<uint8_t>{1, 2, 'h', 'e', 'l', 'l', 'o', ' ', '4', '2', 0}));
    EXPECT_EQ(m[1].payload, (std::vector<uint8_t>{3, 9, 'w', 0}));
    EXPECT_EQ(m[2].payload[0] * 100 + m[2].payload[1], 410);
    EXPECT_EQ(m[2].text, "100%s %n %d");
    EXPECT_EQ(m[3].payload.size(), 1024u + 3);
    const std::string suffix = " [frame: 12/345]";
    EXPECT_EQ(m[4].text, std::string(1024 - suffix.size(), 'y') + suffix);
    EXPECT_EQ(m[5].text, "plain");
}

// A sink that cannot take a record says so through the log, on the posting thread: that
// line is dropped instead of being posted into the same full sink again (which would
// recurse without end). Records that fitted stay whole.
TEST(Log, ASinkThatLogsWhilePostingIsNotPostedToAgain) {
    LogSink stopped("stopped", 4096);  // never started: its ring fills and stays full
    LogSink* previous = gLog.Sink();
    gLog.AttachSink(&stopped);
    for (int i = 0; i < 200; ++i) gLog.Print(LogSeverity::Information, LogCategory::Engine, "message %03d", i);
    gLog.Error(LogCategory::Engine, "one more");
    gLog.AttachSink(previous);
    uint32_t records = 0;
    CommandRingBuffer& ring = stopped.Ring();
    while (ring.BeginRead()) {
        const std::string text(reinterpret_cast<const char*>(ring.ReadCursor()) + 2);
        EXPECT_EQ(text.rfind("message ", 0), 0u) << text;  // no report of the full ring
        ++records;
        ring.EndRead();
    }
    EXPECT_GT(records, 10u);
    EXPECT_LT(records, 200u);
}

TEST(Log, WhenChangedModePostsOneFrameRecordPerChange) {
    CaptureLogSink sink;
    sink.Attach();
    FrameInfo mode(LOG_FRAME_INFO_WHEN_CHANGED);
    SetLogFrameNumbers(5, 6);
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "a");
    gLog.Print(LogSeverity::Progress, LogCategory::Script, "b");  // same frame: nothing more
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "c");  // never for other categories
    SetLogFrameNumbers(7, 8);  // both numbers change at once
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "d");
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "e");
    SetLogFrameNumbers(7, 9);  // only the second one changes
    gLog.Print(LogSeverity::Warning, LogCategory::Script, "f");

    std::vector<std::string> texts;
    for (const auto& m : sink.Messages()) texts.push_back(m.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"[frame: 5/6]", "a", "b", "c", "[frame: 7/8]", "d", "e", "[frame: 7/9]", "f"}));
    // The frame record takes the message's severity and category.
    EXPECT_EQ(sink.Messages()[7].payload, (std::vector<uint8_t>{3, 4, '[', 'f', 'r', 'a', 'm', 'e', ':', ' ', '7', '/', '9', ']', 0}));
}

TEST(Log, ModeTwoFromManyThreadsStaysConsistent) {
    CaptureLogSink sink;
    sink.Attach();
    FrameInfo mode(LOG_FRAME_INFO_WHEN_CHANGED);
    std::atomic<bool> stop{false};
    std::thread frames([&] {
        for (int f = 1; !stop; ++f) SetLogFrameNumbers(f, f);
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < 3; ++t)
        writers.emplace_back([] {
            for (int i = 0; i < 300; ++i) gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "m");
        });
    for (auto& t : writers) t.join();
    stop = true;
    frames.join();
    size_t messages = 0;
    for (const auto& m : sink.Messages()) messages += m.text == "m";
    EXPECT_EQ(messages, 900u);
}

TEST(Log, ErrorReturnsOnlyAfterTheSinkHandledTheRecord) {
    class SlowSink : public CaptureLogSink {
    public:
        ~SlowSink() override {  // the worker must stop before this class goes away
            Detach();
            Stop();
        }
        std::atomic<int> handled{0};

    protected:
        void HandleCommand(uint32_t id, CommandRingBuffer& ring) override {
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            CaptureLogSink::HandleCommand(id, ring);
            ++handled;
        }
    };
    SlowSink sink;
    sink.Attach();
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "first");
    gLog.Error(LogCategory::Engine, "second");
    EXPECT_EQ(sink.handled.load(), 2);
}

// Console input skips lines starting with '~' and is cut to the buffer.
TEST(Log, ConsoleInputControlAndTheCallback) {
    char buffer[8] = "unset";
    EXPECT_FALSE(gLog.ReadConsoleInput(buffer, sizeof buffer));  // no sink
    gCallbackCalls.clear();
    gLog.SetCallback(&RecordCallback);
    gLog.ConsolePrint("no sink");  // nothing at all happens
    CaptureLogSink sink;
    sink.Attach();
    EXPECT_FALSE(gLog.ReadConsoleInput(buffer, sizeof buffer));  // nothing offered

    ASSERT_TRUE(sink.OfferInputLine("~hidden"));
    EXPECT_FALSE(sink.OfferInputLine("later"));  // one line at a time
    EXPECT_FALSE(gLog.ReadConsoleInput(buffer, sizeof buffer));
    EXPECT_EQ(sink.inputCounters.Second(), 1u);  // taken all the same

    ASSERT_TRUE(sink.OfferInputLine("give me more"));
    EXPECT_TRUE(gLog.ReadConsoleInput(buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "give me");  // size - 1 characters
    EXPECT_FALSE(sink.inputCounters.Pending());

    gLog.Print(LogSeverity::Information, LogCategory::Script, "script %d", 1);
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "engine");
    gLog.ConsolePrint("p");
    gLog.ConsolePrintWarning("w");
    gLog.ConsolePrintError("e");
    gLog.ConsoleToggle();
    gLog.ConsoleShow();
    gLog.ConsoleHide();
    gLog.ConsoleCls();
    gLog.SetCallback(nullptr);

    EXPECT_EQ(gCallbackCalls, (std::vector<std::pair<uint32_t, std::string>>{
                                  {4, "script 1"}, {204, "p"}, {304, "w"}, {404, "e"}}));
    ASSERT_EQ(sink.Messages().size(), 5u);
    EXPECT_EQ(sink.Messages()[4].payload, (std::vector<uint8_t>{4, 4, 'e', 0}));
    EXPECT_EQ(sink.Controls(), (std::vector<uint8_t>{7, 5, 6, 14}));
}

TEST(Log, FileSinkWritesOneLinePerMessage) {
    const std::string path = std::string(PROJECT_BINARY_ROOT) + "/log_test_output.txt";
    std::remove(path.c_str());
    LogSink* sink = CreateFileLogSink(path.c_str());
    ASSERT_NE(sink, nullptr);
    ASSERT_TRUE(sink->Start());
    gLog.AttachSink(sink);
    gLog.Print(LogSeverity::Progress, LogCategory::Engine, "first %s", "line");
    gLog.Error(LogCategory::Resources, "second");
    Log::DestroySink(&sink);
    EXPECT_EQ(gLog.Sink(), nullptr);
    std::stringstream all;
    all << std::ifstream(path).rdbuf();
    EXPECT_EQ(all.str(), "[1:2] first line\n[4:5] second\n");
    EXPECT_EQ(CreateFileLogSink("/nonexistent-dir/x/y.log"), nullptr);
}

// A reader following the file (tail -f) sees each line once the sink has handled it, not
// when the buffer happens to fill or the sink goes: nothing waits for an error or the end.
TEST(Log, FileSinkWritesEachLineThroughWithoutAnErrorOrTheEnd) {
    const std::string path = std::string(PROJECT_BINARY_ROOT) + "/log_test_followed.txt";
    std::remove(path.c_str());
    LogSink* sink = CreateFileLogSink(path.c_str());
    ASSERT_NE(sink, nullptr);
    ASSERT_TRUE(sink->Start());
    gLog.AttachSink(sink);
    auto contents = [&] {
        std::stringstream all;
        all << std::ifstream(path).rdbuf();
        return all.str();
    };
    std::string expected;
    for (const char* line : {"frame 1", "frame 2"}) {
        gLog.Print(LogSeverity::Information, LogCategory::Engine, "%s", line);
        expected += std::string("[0:2] ") + line + "\n";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (contents() != expected && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(contents(), expected) << line;
    }
    Log::DestroySink(&sink);
}

}  // namespace
