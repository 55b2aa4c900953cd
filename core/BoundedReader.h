#pragma once
// The one bounded reader threaded through every binary read of property lists,
// names and Solid blobs: a position, an end and an error flag. Any read past the
// end, or any count the remaining bytes cannot hold, sets the error flag, logs one
// line (the first failure only) and makes every later read fail, so a truncated or
// corrupt input never reads past its buffer and never allocates from a wild count.
// Not thread-safe; one reader per read.
#include <cstddef>
#include <cstdint>
#include <cstring>

class BoundedReader {
public:
    BoundedReader(const void* data, size_t size)
        : start(static_cast<const uint8_t*>(data)), pos(start), end(start + (data ? size : 0)) {}

    size_t Remaining() const { return static_cast<size_t>(end - pos); }
    size_t Offset() const { return static_cast<size_t>(pos - start); }
    const uint8_t* Position() const { return pos; }
    bool Failed() const { return failed; }

    // Copies n bytes (a null destination skips them).
    bool Read(void* destination, size_t n) {
        if (failed) return false;
        if (n > Remaining()) return Fail("truncated input");
        if (destination && n) std::memcpy(destination, pos, n);
        pos += n;
        return true;
    }
    bool ReadU8(uint8_t& v) { return Read(&v, 1); }
    bool ReadU16(uint16_t& v) { return Read(&v, 2); }
    bool ReadU32(uint32_t& v) { return Read(&v, 4); }
    // Fails when count elements of at least minElementBytes each cannot fit in the
    // remaining input; use before growing an array to a stored count.
    bool CheckCount(uint64_t count, size_t minElementBytes) {
        if (failed) return false;
        if (minElementBytes == 0) minElementBytes = 1;
        if (count > Remaining() / minElementBytes) return Fail("count larger than the remaining input");
        return true;
    }
    // Length of the NUL-terminated string at the position, terminator excluded;
    // fails when no terminator lies within the input.
    bool PeekStringLength(size_t& length) {
        if (failed) return false;
        const void* nul = std::memchr(pos, 0, Remaining());
        if (!nul) return Fail("string without terminator");
        length = static_cast<size_t>(static_cast<const uint8_t*>(nul) - pos);
        return true;
    }
    // Marks the read failed with one log line "<what> at byte N" (category 2), naming
    // the input when a BoundedReaderSource is in force on this thread; a null what
    // fails silently, for callers that logged their own specified line.
    bool Fail(const char* what);

private:
    const uint8_t* start;
    const uint8_t* pos;
    const uint8_t* end;
    bool failed = false;
};

// Names the input that bounded readers on this thread read (a file's path), for their
// failure lines, while the object lives. Scopes nest; the innermost name is used. The
// name must outlive the scope.
class BoundedReaderSource {
public:
    explicit BoundedReaderSource(const char* name);
    ~BoundedReaderSource();
    BoundedReaderSource(const BoundedReaderSource&) = delete;
    BoundedReaderSource& operator=(const BoundedReaderSource&) = delete;

    // The innermost name in force on this thread, or null.
    static const char* Current();

private:
    const char* previous;
};
