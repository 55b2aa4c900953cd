#pragma once
// The process-wide log (gLog). Callers on any thread format printf-style text with a
// severity and a category; the log posts it as command 6 into a sink, a BaseThread
// that owns the output. Category-4 messages also go to a callback (the Game's console
// echo), which runs on the calling thread. As designed, nothing attaches a sink, so
// every call returns at once until a user or a test attaches one.
//
// Severity: 0 information, 1 progress, 2 script console, 3 warning, 4 error (flushes).
// Category: 2 engine, 3 rendering device, 4 scripts and console, 5 resources and
// shaders, 6 sound, 7 multiplayer engine, 8 network driver, 9 user interface,
// 10 container index reading.
#include <atomic>
#include <cstdint>

#include "core/BaseThread.h"

enum : uint32_t { LOG_CMD_MESSAGE = 6, LOG_CMD_CONTROL = 7 };

// The severity and category numbers travel in the sink record and reach the callback
// as plain numbers; engine code names them.
enum class LogSeverity : uint8_t { Information = 0, Progress = 1, ScriptConsole = 2, Warning = 3, Error = 4 };
enum class LogCategory : uint8_t {
    Rare = 0,
    Engine = 2,
    RenderDevice = 3,
    Script = 4,  // scripts and the console; also handed to the callback
    Resources = 5,
    Sound = 6,
    Multiplayer = 7,
    Network = 8,
    UI = 9,
    FileSystem = 10,  // container index reading
};
enum : uint8_t { LOG_CONTROL_SHOW = 5, LOG_CONTROL_HIDE = 6, LOG_CONTROL_TOGGLE = 7, LOG_CONTROL_CLEAR = 14 };
enum : uint8_t { LOG_FRAME_INFO_DISABLED = 0, LOG_FRAME_INFO_EVERY_LINE = 1, LOG_FRAME_INFO_WHEN_CHANGED = 2 };

constexpr uint32_t kLogFormatBuffer = 8192;
constexpr uint32_t kLogMaxRecordText = 1024;

// A sink: a worker that handles commands 6 and 7 and carries the state the front
// ends read. Subclasses decide what to do with the records.
class LogSink : public BaseThread {
public:
    LogSink(const char* name, uint32_t ringBytes = 0x10000);

    // Frame numbers last reported in "Only when changed" mode.
    std::atomic<int32_t> lastFrameA{-1};
    std::atomic<int32_t> lastFrameB{-1};

    // Console input: lines offered by the sink (first) and taken by the game (second).
    // The sink writes inputLine, then IncrementFirst; the reader takes it, then
    // IncrementSecond and wakes the sink.
    CounterPair inputCounters;
    char inputLine[1024] = {};
    Time lastInputRead;
    // Sink side: offers one line (false while the previous one is not taken yet).
    bool OfferInputLine(const char* line);
    void WakeSink() { Wake(); }
};

using LogCallback = void (*)(uint32_t severity, uint32_t category, const char* text);

class Log {
public:
    void Print(LogSeverity severity, LogCategory category, const char* format, ...)
        __attribute__((format(printf, 4, 5)));
    void Warning(LogCategory category, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void Error(LogCategory category, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void ErrorText(const char* text);  // category 10; the text is never a format

    static void PostMessage(LogSink* sink, uint32_t severity, uint32_t category, const char* text);
    static void PostControl(LogSink* sink, uint8_t code);
    bool ReadConsoleInput(char* buffer, uint32_t size);
    static bool ReadSinkInput(LogSink* sink, char* buffer, uint32_t size);
    // Flushes, stops and deletes the sink, and nulls the pointer.
    static void DestroySink(LogSink** sink);

    // Script class GameConsole (global gConsole): severity 2/3/4, category 4.
    void ConsolePrint(const char* text);
    void ConsolePrintWarning(const char* text);
    void ConsolePrintError(const char* text);
    void ConsoleToggle() { Control(LOG_CONTROL_TOGGLE); }
    void ConsoleShow() { Control(LOG_CONTROL_SHOW); }
    void ConsoleHide() { Control(LOG_CONTROL_HIDE); }
    void ConsoleCls() { Control(LOG_CONTROL_CLEAR); }

    // The attached sink is owned by whoever attached it; Attach(nullptr) detaches.
    void AttachSink(LogSink* s) { sink.store(s, std::memory_order_release); }
    LogSink* Sink() const { return sink.load(std::memory_order_acquire); }
    void SetCallback(LogCallback cb) { callback.store(cb, std::memory_order_release); }
    LogCallback Callback() const { return callback.load(std::memory_order_acquire); }
    // "Log frame info" of the core configuration.
    static void SetFrameInfoMode(uint8_t mode);
    static uint8_t FrameInfoMode();

private:
    void Console(uint32_t severity, const char* text, bool flush);
    void Control(uint8_t code);
    void VPrint(uint32_t severity, uint32_t category, bool flush, const char* format, __builtin_va_list args);

    std::atomic<LogSink*> sink{nullptr};
    std::atomic<LogCallback> callback{nullptr};
};

extern Log gLog;

// The two engine frame counters shown by "Log frame info"; the engine updates them.
int32_t GetLogFrameNumberA();
int32_t GetLogFrameNumberB();
void SetLogFrameNumbers(int32_t a, int32_t b);

// A sink writing "severity category text" lines to a file or standard error ("-"),
// attached by the program's --log option.
LogSink* CreateFileLogSink(const char* path);
