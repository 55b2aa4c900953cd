#pragma once
// A plain HTTP POST for the game's reporting services (libcurl), and the MD5 digest
// they sign their bodies with.
//
// Threads: HttpGlobalInit and HttpGlobalCleanup run once each, while no other thread
// posts (before the first post and after the last); HttpPost runs on any thread, one
// transfer per call, and never raises signals (name look-ups time out without SIGALRM).
#include <cstddef>
#include <cstdint>
#include <string>

namespace online {

bool HttpGlobalInit();
void HttpGlobalCleanup();

struct HttpPostResult {
    bool transferred = false;  // the transfer ended without a transfer error
    long status = 0;           // the answer's HTTP status; 0 when none came
    uint64_t answerBytes = 0;  // bytes of the answer body, read and discarded
    bool Succeeded() const { return transferred && status >= 200 && status < 300; }
};

// POSTs body (zero-terminated, sent without the terminator) to url with no headers of our
// own; gives up after timeoutSeconds. The answer's body is discarded as it arrives.
HttpPostResult HttpPost(const char* url, const char* body, long timeoutSeconds);

// MD5 (RFC 1321) of the bytes as 32 lower-case hexadecimal digits.
std::string Md5Hex(const void* data, size_t size);

}  // namespace online
