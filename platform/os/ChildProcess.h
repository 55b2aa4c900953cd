#pragma once
// A program run as a child of this one, for tools that drive another program and measure
// it (tools/brokerload runs the broker program): start it pinned to chosen CPUs, read its
// standard output line by line, read its CPU time and resident memory, and stop it. Also
// the process's own open-file limit, which such a tool raises for its many sockets.
//
// Threads: one ChildProcess belongs to one thread at a time.
#include <cstdint>
#include <string>
#include <vector>

namespace os {

// Raises the soft open-file limit to the hard one. *before and *after: the soft limit
// before and after the attempt; false when it could not be raised.
bool RaiseOpenFileLimit(uint64_t* before, uint64_t* after);

struct ProcessUsage {
    double cpuSeconds = 0;  // user and system time
    uint64_t residentBytes = 0;
};

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();  // kills it if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Runs argv[0] (a path) with argv as its arguments, its standard output readable
    // through ReadLine and its standard error appended to errorLog; cpus ("2", "4-5,7";
    // empty for any) pins it. False with the reason.
    bool Start(const std::vector<std::string>& argv, const std::string& errorLog, const std::string& cpus, std::string* error);
    // The next line of its standard output within timeoutMs; false at its end or on a time-out.
    bool ReadLine(std::string* line, int timeoutMs);
    int Pid() const { return pid; }
    // False when it does not run or the system does not tell.
    bool ReadUsage(ProcessUsage* out) const;
    // Asks it to stop and waits up to timeoutMs (then kills it): "" when it exited with
    // status 0, else how it ended ("exit status 3", "killed by signal 11",
    // "did not stop in time", "not running").
    std::string Stop(int timeoutMs);

private:
    int pid = -1;
    int output = -1;
    std::string pending;
};

// "4-5,7" into CPU numbers; false when malformed or empty.
bool ParseCpuList(const std::string& text, std::vector<int>* cpus);

}  // namespace os
