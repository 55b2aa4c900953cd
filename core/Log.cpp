// Logging: the front ends format into a stack buffer and post one command-6 record per
// message into the attached sink's ring; the sink thread owns the output. Nothing here
// allocates. Without a sink every call returns at once (the designed state).
#include "core/Log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

Log gLog;

namespace {
std::atomic<uint8_t> gFrameInfoMode{LOG_FRAME_INFO_DISABLED};
std::atomic<int32_t> gFrameA{0};
std::atomic<int32_t> gFrameB{0};
// Set while this thread is inside a post, so a failure reported while posting (a full
// ring of a stopped sink) cannot recurse into the sink again.
thread_local bool tPosting = false;
}  // namespace

int32_t GetLogFrameNumberA() { return gFrameA.load(std::memory_order_relaxed); }
int32_t GetLogFrameNumberB() { return gFrameB.load(std::memory_order_relaxed); }
void SetLogFrameNumbers(int32_t a, int32_t b) {
    gFrameA.store(a, std::memory_order_relaxed);
    gFrameB.store(b, std::memory_order_relaxed);
}

void Log::SetFrameInfoMode(uint8_t mode) { gFrameInfoMode.store(mode, std::memory_order_relaxed); }
uint8_t Log::FrameInfoMode() { return gFrameInfoMode.load(std::memory_order_relaxed); }

LogSink::LogSink(const char* name, uint32_t ringBytes) : BaseThread(name, ringBytes, true, kWaitForever) {}

bool LogSink::OfferInputLine(const char* line) {
    if (inputCounters.Pending()) return false;
    std::snprintf(inputLine, sizeof inputLine, "%s", line);
    inputCounters.IncrementFirst();
    return true;
}

void Log::VPrint(uint32_t severity, uint32_t category, bool flush, const char* format, va_list args) {
    LogSink* s = Sink();
    if (!format || !s || tPosting) return;
    char buffer[kLogFormatBuffer];
    std::vsnprintf(buffer, sizeof buffer, format, args);
    buffer[kLogFormatBuffer - 1] = 0;
    PostMessage(s, severity, category, buffer);
    if (category == 4) {
        if (LogCallback cb = Callback()) cb(severity, 4, buffer);
    }
    if (flush) s->Flush();
}

void Log::Print(LogSeverity severity, LogCategory category, const char* format, ...) {
    va_list args;
    va_start(args, format);
    VPrint(uint32_t(severity), uint32_t(category), false, format, args);
    va_end(args);
}

void Log::Warning(LogCategory category, const char* format, ...) {
    va_list args;
    va_start(args, format);
    VPrint(uint32_t(LogSeverity::Warning), uint32_t(category), false, format, args);
    va_end(args);
}

void Log::Error(LogCategory category, const char* format, ...) {
    va_list args;
    va_start(args, format);
    VPrint(uint32_t(LogSeverity::Error), uint32_t(category), true, format, args);
    va_end(args);
}

void Log::ErrorText(const char* text) {
    if (text) Error(LogCategory::FileSystem, "%s", text);
}

static void PostRecord(LogSink* sink, uint32_t severity, uint32_t category, const char* text, uint32_t textLength,
                       const char* suffix, uint32_t suffixLength) {
    tPosting = true;
    if (sink->BeginCommand(LOG_CMD_MESSAGE, textLength + suffixLength + 3)) {
        CommandRingBuffer& ring = sink->Ring();
        const uint8_t head[2] = {static_cast<uint8_t>(severity), static_cast<uint8_t>(category)};
        ring.Write(head, 2);
        ring.Write(text, textLength);
        ring.Write(suffix, suffixLength);
        const uint8_t nul = 0;
        ring.Write(&nul, 1);
        sink->EndCommand();
    }
    tPosting = false;
}

void Log::PostMessage(LogSink* sink, uint32_t severity, uint32_t category, const char* text) {
    if (!text || !sink) return;
    char suffix[64] = "";
    if (category == 4 || category == 7) {
        const uint8_t mode = FrameInfoMode();
        if (mode == LOG_FRAME_INFO_EVERY_LINE) {
            const int32_t a = GetLogFrameNumberA(), b = GetLogFrameNumberB();
            sink->lastFrameA.store(a, std::memory_order_relaxed);
            sink->lastFrameB.store(b, std::memory_order_relaxed);
            std::snprintf(suffix, sizeof suffix, " [frame: %d/%d]", a, b);
        } else if (mode == LOG_FRAME_INFO_WHEN_CHANGED) {
            const int32_t a = GetLogFrameNumberA(), b = GetLogFrameNumberB();
            // Both are stored before comparing: a short-circuit would leave B stale and
            // post a second frame record for the same frame.
            const bool changedA = sink->lastFrameA.exchange(a, std::memory_order_relaxed) != a;
            const bool changedB = sink->lastFrameB.exchange(b, std::memory_order_relaxed) != b;
            if (changedA || changedB) {
                char frame[64];
                const int n = std::snprintf(frame, sizeof frame, "[frame: %d/%d]", a, b);
                PostRecord(sink, severity, category, frame, static_cast<uint32_t>(n), "", 0);
            }
        }
    }
    const uint32_t s = static_cast<uint32_t>(std::strlen(suffix));
    uint32_t t = static_cast<uint32_t>(std::strlen(text));
    if (t + s > kLogMaxRecordText) t = kLogMaxRecordText - s;  // the suffix is never cut
    PostRecord(sink, severity, category, text, t, suffix, s);
}

void Log::PostControl(LogSink* sink, uint8_t code) {
    if (!sink) return;
    if (sink->BeginCommand(LOG_CMD_CONTROL, 1)) {
        sink->Ring().WriteValue(code);
        sink->EndCommand();
    }
}

bool Log::ReadConsoleInput(char* buffer, uint32_t size) {
    LogSink* s = Sink();
    return s ? ReadSinkInput(s, buffer, size) : false;
}

bool Log::ReadSinkInput(LogSink* sink, char* buffer, uint32_t size) {
    if (!sink || !sink->inputCounters.Pending()) return false;
    sink->lastInputRead.LoadHardwareTime();
    bool taken = false;
    if (sink->inputLine[0] != '~' && buffer && size > 0) {
        std::strncpy(buffer, sink->inputLine, size - 1);
        buffer[size - 1] = 0;
        taken = true;
    }
    sink->inputCounters.IncrementSecond();
    sink->WakeSink();
    return taken;
}

void Log::DestroySink(LogSink** sink) {
    if (!sink || !*sink) return;
    if (gLog.Sink() == *sink) gLog.AttachSink(nullptr);
    (*sink)->Flush();
    (*sink)->Stop();
    delete *sink;
    *sink = nullptr;
}

void Log::Console(uint32_t severity, const char* text, bool flush) {
    LogSink* s = Sink();
    if (!text || !s) return;
    PostMessage(s, severity, 4, text);
    if (LogCallback cb = Callback()) cb(severity, 4, text);
    if (flush) s->Flush();
}

void Log::ConsolePrint(const char* text) { Console(2, text, false); }
void Log::ConsolePrintWarning(const char* text) { Console(3, text, false); }
void Log::ConsolePrintError(const char* text) { Console(4, text, true); }

void Log::Control(uint8_t code) { PostControl(Sink(), code); }

// ---------------------------------------------------------------------------------------
// File sink for the program's --log option: each line "[severity:category] text".

namespace {

class FileLogSink : public LogSink {
public:
    FileLogSink(FILE* f, bool own) : LogSink("LogSink"), file(f), ownsFile(own) {}
    ~FileLogSink() override {
        Stop();  // the worker must be gone before the file and this class are
        if (ownsFile) std::fclose(file);
    }

protected:
    void HandleCommand(uint32_t id, CommandRingBuffer& ring) override {
        if (id == LOG_CMD_MESSAGE) {
            uint8_t head[2] = {};
            if (!ring.Read(head, 2)) return;
            const char* text = reinterpret_cast<const char*>(ring.ReadCursor());
            const uint32_t n = ring.ReadLeft();
            std::fprintf(file, "[%u:%u] %.*s\n", head[0], head[1], static_cast<int>(n ? n - 1 : 0), text);
            if (head[0] >= 4) std::fflush(file);  // an error is on disk before Log::Error returns
        } else if (id == LOG_CMD_CONTROL) {
            std::fflush(file);
        }
    }
    // Every wake handles what is queued, then writes it through: the file is never more
    // than one batch of lines behind the program (a reader follows it as it runs).
    void Tick() override {
        LogSink::Tick();
        std::fflush(file);
    }

private:
    FILE* file;
    bool ownsFile;
};

}  // namespace

LogSink* CreateFileLogSink(const char* path) {
    if (!path) return nullptr;
    if (std::strcmp(path, "-") == 0) return new FileLogSink(stderr, false);
    FILE* f = std::fopen(path, "a");
    if (!f) return nullptr;
    return new FileLogSink(f, true);
}
