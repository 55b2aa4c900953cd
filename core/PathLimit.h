#pragma once
// The one path limit, below every library that composes or stores paths.
#include <cstdint>

namespace fs {
// Paths are composed into buffers of this many bytes (259 characters and the NUL).
constexpr uint32_t kMaxPath = 260;
}  // namespace fs
