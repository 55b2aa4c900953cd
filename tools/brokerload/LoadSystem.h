#pragma once
// The operating-system calls of broker_load, kept in one place: the open-file limit,
// readiness waits on many non-blocking sockets, connecting over TCP, the broker's
// process (start, CPU time, resident memory, stop) and file sizes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace brokerload {

// Raises the soft open-file limit to the hard one. The limits before and after.
bool RaiseFileLimit(uint64_t* before, uint64_t* after);

// Waits on many sockets at once. One poller belongs to one thread.
class Poller {
public:
    struct Event {
        uint32_t tag = 0;
        bool readable = false;  // also set at the end of the stream and on errors
        bool writable = false;
    };
    Poller();
    ~Poller();
    Poller(const Poller&) = delete;
    Poller& operator=(const Poller&) = delete;
    bool Ok() const { return fd >= 0; }
    // Read interest always; write interest when wantWrite.
    bool Add(int socket, uint32_t tag, bool wantWrite);
    bool Change(int socket, uint32_t tag, bool wantWrite);
    void Remove(int socket);
    // Up to out.size() events within timeoutMs; their count (0 on a time-out or a signal).
    size_t Wait(std::vector<Event>& out, int timeoutMs);

private:
    int fd = -1;
};

// Starts a non-blocking connection to a numeric IPv4 address; the socket, or -1. The
// connection is made when the socket turns writable: ConnectError then tells how it went.
int ConnectTcp(const std::string& address, uint16_t port);
int ConnectError(int socket);  // 0: connected

struct Usage {
    double cpuSeconds = 0;   // user and system time
    uint64_t residentBytes = 0;
};

// The broker program as a child process.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();  // kills it if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // Runs argv[0] with its standard output readable here and its standard error
    // appended to errorLog; cpus (as "2" or "4-5,7", empty for any) pins it.
    bool Start(const std::vector<std::string>& argv, const std::string& errorLog, const std::string& cpus, std::string* error);
    // The next line of its standard output within timeoutMs; false at its end or on time-out.
    bool ReadLine(std::string* line, int timeoutMs);
    int Pid() const { return pid; }
    bool ReadUsage(Usage* out) const;
    // Asks it to stop (SIGTERM) and waits up to timeoutMs; "" when it exited with status 0,
    // else how it ended ("exit status 3", "killed by signal 11", "did not stop in time").
    std::string Stop(int timeoutMs);

private:
    int pid = -1;
    int output = -1;
    std::string pending;
};

uint64_t FileSize(const std::string& path);  // 0 when missing
bool MakeFolder(const std::string& path);
bool WriteFileBytes(const std::string& path, const void* data, size_t size);  // readable by its owner only

}  // namespace brokerload
