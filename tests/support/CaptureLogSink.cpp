#include "CaptureLogSink.h"

CaptureLogSink::CaptureLogSink() : LogSink("CaptureLogSink") {}

CaptureLogSink::~CaptureLogSink() {
    Detach();
    Stop();
}

void CaptureLogSink::Attach() {
    Start();
    gLog.AttachSink(this);
    attached = true;
}

void CaptureLogSink::Detach() {
    if (attached && gLog.Sink() == this) gLog.AttachSink(nullptr);
    attached = false;
}

void CaptureLogSink::HandleCommand(uint32_t id, CommandRingBuffer& ring) {
    std::lock_guard<std::mutex> lock(mutex);
    if (id == LOG_CMD_MESSAGE) {
        Message m{};
        m.payload.resize(ring.ReadLeft());
        ring.Read(m.payload.data(), static_cast<uint32_t>(m.payload.size()));
        if (m.payload.size() >= 3) {
            m.severity = m.payload[0];
            m.category = m.payload[1];
            m.text.assign(reinterpret_cast<const char*>(m.payload.data()) + 2, m.payload.size() - 3);
        }
        messages.push_back(std::move(m));
    } else if (id == LOG_CMD_CONTROL) {
        uint8_t code = 0;
        if (ring.ReadValue(code)) controls.push_back(code);
    }
}

std::vector<CaptureLogSink::Message> CaptureLogSink::Messages() {
    Flush();
    std::lock_guard<std::mutex> lock(mutex);
    return messages;
}

std::vector<uint8_t> CaptureLogSink::Controls() {
    Flush();
    std::lock_guard<std::mutex> lock(mutex);
    return controls;
}

bool CaptureLogSink::Contains(const std::string& fragment) {
    for (const auto& m : Messages())
        if (m.text.find(fragment) != std::string::npos) return true;
    return false;
}

void CaptureLogSink::Clear() {
    Flush();
    std::lock_guard<std::mutex> lock(mutex);
    messages.clear();
    controls.clear();
}
