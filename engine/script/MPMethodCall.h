#pragma once
// MPMethodCall: one replicated method call as it travels to a peer: the method id
// (0xFF when none), 256 bytes of argument data, the argument count, the bytes used and
// eight argument slots (kind, offset into the data).
//
// Appending never overruns: an argument that would pass 8 slots or 256 data bytes (or a
// string over 255 bytes) is refused with false and the record stays as it was. Readers
// check the slot against the count and the bytes used, so a record from a peer is read
// safely whatever its fields say.
#include <cstdint>

#include "core/math/Vector.h"

enum MPMethodCallArgType : uint8_t {
    MPARG_NIL = 0,
    MPARG_BOOL = 1,
    MPARG_NUMBER = 2,
    MPARG_ENTITY = 3,
    MPARG_VECTOR = 4,
    MPARG_STRING = 5,
    MPARG_INVALID = 0xFF,  // GetArgType of a slot that does not exist or does not fit
};

constexpr uint16_t kNoMultiplayerId = 4095;

struct MPMethodCall {
    static constexpr uint32_t kMaxArgs = 8;
    static constexpr uint32_t kDataSize = 256;
    static constexpr uint32_t kMaxStringLength = 255;

    struct Slot {
        uint8_t type = 0;
        uint32_t offset = 0;
    };

    uint8_t methodId = 0xFF;
    uint8_t data[kDataSize] = {};
    uint8_t argCount = 0;
    uint32_t dataSize = 0;
    Slot args[kMaxArgs];

    bool AddNilArg();
    bool AddBoolArg(bool value);
    bool AddNumberArg(float value);
    bool AddEntityArg(uint16_t id);
    bool AddVectorArg(const Vector& value);
    bool AddStringArg(const char* text, uint32_t length);
    // Whether an argument of that many data bytes still fits.
    bool Fits(uint32_t bytes) const { return argCount < kMaxArgs && dataSize <= kDataSize && bytes <= kDataSize - dataSize; }

    // MPARG_INVALID when index is not below the count (at most 8) or its data lie outside
    // the bytes used.
    uint8_t GetArgType(uint32_t index) const;
    bool GetBoolArg(uint32_t index) const;
    float GetNumberArg(uint32_t index) const;
    uint16_t GetEntityArg(uint32_t index) const;
    Vector GetVectorArg(uint32_t index) const;
    uint32_t GetStringArgLength(uint32_t index) const;
    const char* GetStringArgData(uint32_t index) const;  // not terminated

    // Every entity argument equal to id becomes 4095 (none).
    void ReplaceEntityArg(uint16_t id);

private:
    bool Append(uint8_t type, const void* bytes, uint32_t size);
    // The argument's data when its slot is valid and of that type, else null.
    const uint8_t* At(uint32_t index, uint8_t type) const;
};
static_assert(sizeof(MPMethodCall) == 328, "the record keeps its documented size");
