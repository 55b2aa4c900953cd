#pragma once
// The program's single-instance lock: one running instance per key (the main window's
// class name) and user.
//
// The lock is an exclusive advisory lock on "<key>.<uid>.lock" in $XDG_RUNTIME_DIR (an
// absolute folder), else in the user data folder (created when missing). It is held
// for as long as this object holds it and dies with the process, so a crashed instance
// never blocks the next start. Beside it the holder binds a datagram socket
// "<key>.<uid>.sock"; a second start finds the lock taken, sends one raise request
// through that socket and reports Another. The holder reads requests when it polls:
// only a datagram that is exactly the request and comes from the same user counts;
// anything else is read and dropped.
//
// Threads: one owner thread per object.
#include <cstdint>

namespace os {

class SingleInstance {
public:
    enum class Result : uint8_t {
        First,        // this process holds the lock now
        Another,      // another process holds it; a raise request was sent to it
        Unavailable,  // no folder or lock file could be used; nothing is held
    };

    SingleInstance() = default;
    ~SingleInstance() { Release(); }
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // key: a file-name-safe word (no '/', at most 64 bytes). Calling it again while
    // holding the lock returns First.
    Result Acquire(const char* key);
    // Holder side, never blocks: true when at least one raise request arrived since the
    // last call. Every waiting datagram is consumed.
    bool TakeRaiseRequest();
    // Removes the socket and the lock file, then drops the lock.
    void Release();

    bool IsHeld() const { return lockFile >= 0; }
    // The holder's request socket path ("" when there is none).
    const char* SocketPath() const { return socketPath; }
    // The exact request datagram for a key (without a terminating NUL); false when it
    // does not fit.
    static bool FormatRaiseRequest(const char* key, char* buffer, uint32_t size, uint32_t* length);

private:
    int lockFile = -1;
    int socket = -1;
    char key[65] = {};
    char socketPath[108] = {};  // the size of a local socket address's path
    char lockPath[4096 + 128] = {};
};

}  // namespace os
