#pragma once
// CRC-32 as used by every checked file, Solid blob, class-layout hash and cloud save:
// polynomial 0x04C11DB7, most significant bit first (no reflection), initial value
// 0, no final XOR. "123456789" gives 0x89A1897F. The shared instance is built once
// and then only read, so it may be used from any thread.
#include <cstddef>
#include <cstdint>

class CRC32 {
public:
    static constexpr uint32_t kDefaultPolynomial = 0x04C11DB7u;

    explicit CRC32(uint32_t polynomial = kDefaultPolynomial) { BuildTable(polynomial); }

    // Rebuilds the table when the polynomial differs from the stored one.
    void SetPolynomial(uint32_t polynomial) {
        if (polynomial != poly) BuildTable(polynomial);
    }
    uint32_t Update(uint32_t value, const void* bytes, size_t length) const;
    // From initial value 0; 0 for length 0.
    uint32_t Compute(const void* bytes, size_t length) const { return Update(0, bytes, length); }
    // For length 0, true only when expected is 0.
    bool Verify(const void* bytes, size_t length, uint32_t expected) const {
        return Compute(bytes, length) == expected;
    }

    static const CRC32& GetDefault();

private:
    void BuildTable(uint32_t polynomial);
    uint32_t poly = 0;
    uint32_t table[256];
};
