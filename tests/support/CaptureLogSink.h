#pragma once
// A log sink for tests: records every command-6 message and command-7 control code.
// Attach() makes it gLog's sink and starts it; the destructor detaches and stops it.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "core/Log.h"

class CaptureLogSink : public LogSink {
public:
    struct Message {
        uint8_t severity;
        uint8_t category;
        std::string text;             // text and suffix, without the trailing NUL
        std::vector<uint8_t> payload;  // the raw record payload
    };

    CaptureLogSink();
    ~CaptureLogSink() override;

    void Attach();
    void Detach();

    // Flushes the sink first, so everything posted before the call is included.
    std::vector<Message> Messages();
    std::vector<uint8_t> Controls();
    // True when some message's text contains the fragment.
    bool Contains(const std::string& fragment);
    void Clear();

protected:
    void HandleCommand(uint32_t id, CommandRingBuffer& ring) override;

private:
    std::mutex mutex;
    std::vector<Message> messages;
    std::vector<uint8_t> controls;
    bool attached = false;
};
