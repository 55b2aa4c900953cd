#pragma once
// The number boundary between scripts and the engine.
//
// Debian's Lua keeps its numbers as doubles; the engine sees what a float build would
// give. Every number the engine pushes goes through a 32-bit float first, and every
// number it reads is read as a 32-bit float. Integers are taken from that float by
// truncation toward zero, saturating at the integer type's limits, with NaN read as 0.
// A negative number for an unsigned type is the 32-bit two's complement of its
// truncation (saturating at -2^31), cut to the type's width: -1 reads as 0xFFFFFFFF,
// the "every instance" id, as a C conversion of the integer would give.
// Arithmetic inside scripts stays double.
//
// The rule is applied in two places only: the script host's push and read helpers, and
// the shim compiled into every generated binding package (LuaPackageShim.h).
#include <cstdint>
#include <limits>
#include <type_traits>

// A float read from a script to an arithmetic or enumeration type, by the rule above.
template <class T>
constexpr T ScriptFloatTo(float f) {
    if constexpr (std::is_enum_v<T>) {
        return static_cast<T>(ScriptFloatTo<std::underlying_type_t<T>>(f));
    } else if constexpr (std::is_same_v<T, bool>) {
        return f == f && f != 0.0f;
    } else if constexpr (std::is_floating_point_v<T>) {
        return static_cast<T>(f);
    } else {
        static_assert(std::is_integral_v<T>);
        if (f != f) return 0;
        if constexpr (std::is_unsigned_v<T>) {
            if (f < 0.0f) {
                const int32_t wrapped = f <= -2147483648.0f ? std::numeric_limits<int32_t>::min() : static_cast<int32_t>(f);
                return static_cast<T>(static_cast<uint32_t>(wrapped));
            }
        }
        constexpr T lo = std::numeric_limits<T>::min();
        constexpr T hi = std::numeric_limits<T>::max();
        // Both limits are powers of two (or 0) as floats; hi rounds up to the next one.
        if (f <= static_cast<float>(lo)) return lo;
        if (f >= static_cast<float>(hi)) return hi;
        return static_cast<T>(f);
    }
}

// A number read from a script: converts to any arithmetic or enumeration type by the
// rule, so generated code's casts of a conversion's result saturate.
class ScriptNumber {
public:
    explicit constexpr ScriptNumber(double value) : value(static_cast<float>(value)) {}

    template <class T>
        requires(std::is_arithmetic_v<T> || std::is_enum_v<T>)
    constexpr operator T() const {  // NOLINT: implicit on purpose, see above
        return ScriptFloatTo<T>(value);
    }
    constexpr float Float() const { return value; }

private:
    float value;
};

// The double pushed for an engine number: the value through a 32-bit float.
constexpr double ScriptPushValue(double value) { return static_cast<float>(value); }
