#pragma once
// NameString: an interned, reference-counted, immutable 8-bit string. Equal texts
// (byte for byte, case-sensitive) share one pool entry, so a copy is a pointer copy
// plus a count and equality is a pointer comparison. Null or empty text is the
// empty name, which holds no entry.
//
// Threads: the pool has one lock for every reference count and pool change, so
// names are created, copied and dropped on any thread. A single NameString object
// is not itself safe to assign from two threads at once.
#include <cstddef>
#include <cstdint>

class BoundedReader;

class NameString {
public:
    NameString() = default;
    NameString(const char* text);  // NOLINT: implicit on purpose, names are values
    NameString(const char* text, size_t length);
    NameString(const NameString& other);
    NameString(NameString&& other) noexcept : text(other.text) { other.text = nullptr; }
    ~NameString();

    NameString& operator=(const char* text);
    NameString& operator=(const NameString& other);
    NameString& operator=(NameString&& other) noexcept;
    void Set(const char* text, size_t length);
    void Clear();

    // The characters; "" for the empty name (never null).
    const char* CStr() const { return text ? text : ""; }
    // The characters, or null for the empty name.
    const char* Raw() const { return text; }
    bool IsEmpty() const { return text == nullptr; }
    uint32_t Length() const;

    bool operator==(const NameString& other) const { return text == other.text; }
    bool operator!=(const NameString& other) const { return text != other.text; }

    // Stream form: u32 length (byte-swapped with option 2), then the characters
    // without NUL; the empty name writes length 0. A null destination only sizes.
    uint32_t Write(uint8_t* destination, uint32_t options) const;
    // Reads the stream form. Length 0 makes the name empty; a length beyond the
    // remaining input fails the reader. Characters after an embedded NUL are dropped.
    bool Read(BoundedReader& in);

    // Pool statistics (under the pool lock): entries and bytes held (length + 9 each).
    static uint32_t PoolEntryCount();
    static uint64_t PoolTotalBytes();
    // Reference count of this name's entry (0 for the empty name).
    uint32_t RefCount() const;

private:
    const char* text = nullptr;
};

// A count-prefixed heap array of n empty names (null for n below 1), released with
// DeleteNameStringArray.
NameString* NewNameStringArray(int32_t n);
void DeleteNameStringArray(NameString* names);
// Resets names[0..count) to the empty name.
void ClearNameStringRange(NameString* names, uint32_t count);
