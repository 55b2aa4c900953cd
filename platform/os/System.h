#pragma once
// What the machine tells about itself and the desktop hands to programs: installed
// memory, wall-clock time in the local time zone, and starting a desktop helper
// program without waiting for it. All calls are thread-safe.
#include <cstdint>

namespace os {

// Bytes of physical memory installed (0 when the machine does not say).
uint64_t PhysicalMemoryBytes();

// Calendar fields of a moment in the local time zone.
struct LocalTime {
    int year = 0;    // e.g. 2026
    int month = 0;   // 1-12
    int day = 0;     // 1-31
    int hour = 0;    // 0-23
    int minute = 0;  // 0-59
    int second = 0;  // 0-60
};
// Seconds since 1970-01-01 UTC, from the real wall clock.
int64_t WallClockSeconds();
// False (fields zeroed) when the moment cannot be represented.
bool ToLocalTime(int64_t secondsSince1970, LocalTime* out);

// Whether a program of that name is found on the executable search path.
bool FindProgram(const char* name);
// Starts the program (looked up on the search path) with one argument, detached from
// this process: no waiting, no inherited console, reaped by the system. False when it
// could not be started.
bool LaunchDetached(const char* program, const char* argument);

// This process's id.
uint32_t CurrentProcessId();
// Whether a process of that id is running (a process of another user counts; 0 never).
bool ProcessExists(uint32_t processId);

}  // namespace os
