#include "engine/script/MPMethodCall.h"

#include <cstring>

namespace {

uint32_t DataBytes(uint8_t type, const uint8_t* at, uint32_t available) {
    switch (type) {
        case MPARG_NIL: return 0;
        case MPARG_BOOL: return 1;
        case MPARG_NUMBER: return 4;
        case MPARG_ENTITY: return 2;
        case MPARG_VECTOR: return 16;
        case MPARG_STRING: return available ? 1u + at[0] : 1u;
        default: return MPMethodCall::kDataSize + 1;
    }
}

}  // namespace

bool MPMethodCall::Append(uint8_t type, const void* bytes, uint32_t size) {
    if (!Fits(size)) return false;
    args[argCount] = {type, dataSize};
    if (size) std::memcpy(data + dataSize, bytes, size);
    dataSize += size;
    ++argCount;
    return true;
}

bool MPMethodCall::AddNilArg() { return Append(MPARG_NIL, nullptr, 0); }
bool MPMethodCall::AddBoolArg(bool value) {
    const uint8_t b = value ? 1 : 0;
    return Append(MPARG_BOOL, &b, 1);
}
bool MPMethodCall::AddNumberArg(float value) { return Append(MPARG_NUMBER, &value, 4); }
bool MPMethodCall::AddEntityArg(uint16_t id) { return Append(MPARG_ENTITY, &id, 2); }
bool MPMethodCall::AddVectorArg(const Vector& value) {
    const float v[4] = {value.x, value.y, value.z, value.w};
    return Append(MPARG_VECTOR, v, 16);
}
bool MPMethodCall::AddStringArg(const char* text, uint32_t length) {
    if (length > kMaxStringLength || !Fits(1 + length)) return false;
    uint8_t buffer[1 + kMaxStringLength];
    buffer[0] = static_cast<uint8_t>(length);
    if (length) std::memcpy(buffer + 1, text, length);
    return Append(MPARG_STRING, buffer, 1 + length);
}

uint8_t MPMethodCall::GetArgType(uint32_t index) const {
    if (index >= argCount || index >= kMaxArgs) return MPARG_INVALID;
    const Slot& s = args[index];
    const uint32_t used = dataSize < kDataSize ? dataSize : kDataSize;
    if (s.offset > used) return MPARG_INVALID;
    const uint32_t bytes = DataBytes(s.type, data + s.offset, used - s.offset);
    return bytes <= used - s.offset ? s.type : uint8_t(MPARG_INVALID);
}

const uint8_t* MPMethodCall::At(uint32_t index, uint8_t type) const {
    return GetArgType(index) == type ? data + args[index].offset : nullptr;
}

bool MPMethodCall::GetBoolArg(uint32_t index) const {
    const uint8_t* p = At(index, MPARG_BOOL);
    return p && *p;
}

float MPMethodCall::GetNumberArg(uint32_t index) const {
    float v = 0.0f;
    if (const uint8_t* p = At(index, MPARG_NUMBER)) std::memcpy(&v, p, 4);
    return v;
}

uint16_t MPMethodCall::GetEntityArg(uint32_t index) const {
    uint16_t v = kNoMultiplayerId;
    if (const uint8_t* p = At(index, MPARG_ENTITY)) std::memcpy(&v, p, 2);
    return v;
}

Vector MPMethodCall::GetVectorArg(uint32_t index) const {
    float v[4] = {};
    if (const uint8_t* p = At(index, MPARG_VECTOR)) std::memcpy(v, p, 16);
    return Vector(v[0], v[1], v[2], v[3]);
}

uint32_t MPMethodCall::GetStringArgLength(uint32_t index) const {
    const uint8_t* p = At(index, MPARG_STRING);
    return p ? *p : 0;
}

const char* MPMethodCall::GetStringArgData(uint32_t index) const {
    const uint8_t* p = At(index, MPARG_STRING);
    return p ? reinterpret_cast<const char*>(p + 1) : "";
}

void MPMethodCall::ReplaceEntityArg(uint16_t id) {
    for (uint32_t i = 0; i < argCount && i < kMaxArgs; ++i) {
        if (GetArgType(i) != MPARG_ENTITY || GetEntityArg(i) != id) continue;
        const uint16_t none = kNoMultiplayerId;
        std::memcpy(data + args[i].offset, &none, 2);
    }
}
