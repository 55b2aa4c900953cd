#pragma once
// One-line registration of a property read and written directly at an offset of the
// object.
#include <cstddef>
#include <cstdint>

#include "core/rtti/RTTIProperty.h"

template <class T>
inline void AddDirect(RTTIClass* c, const char* name, size_t offset, uint32_t flags = 0,
                      const void* extra = nullptr) {
    c->AddProperty(new RTTIDirectAccessTypedProperty<T>(name, offset, flags, extra));
}
