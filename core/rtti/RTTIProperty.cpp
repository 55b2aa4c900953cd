// Binary and text forms of the property value types, and the non-template property
// families (bit vector, raw block, array and object helpers). Text runs in the C
// locale: the program never changes LC_NUMERIC.
#include "core/rtti/RTTIProperty.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/ByteOrder.h"
#include "core/Log.h"
#include "core/Memory.h"
#include "core/math/BoundingBox4.h"
#include "core/math/HDRColor.h"
#include "core/math/Matrix.h"
#include "core/math/Quaternion.h"
#include "core/math/Vector.h"
#include "core/rtti/RTTIArrayProperty.h"
#include "core/rtti/RTTIEntityPointer.h"
#include "core/text/TextConversion.h"

RTTIProperty::RTTIProperty(const char* n, uint32_t f, const void* e) : flags(f), extra(e) {
    if (n && *n) {
        const size_t len = std::strlen(n);
        name = static_cast<char*>(EngineAlloc(len + 1));
        std::memcpy(name, n, len + 1);
    }
}

RTTIProperty::~RTTIProperty() { EngineFree(name); }

bool RTTIProperty::ToString(const void*, char* buffer, uint32_t size) const {
    if (buffer && size) buffer[0] = 0;
    return false;
}

namespace {

void Print(char* buffer, uint32_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
void Print(char* buffer, uint32_t size, const char* format, ...) {
    if (!buffer || size == 0) return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, size, format, args);
    va_end(args);
}

// Fixed-size values: copy, swap `words` 32-bit words starting at byte `swapFrom`.
template <class T>
uint32_t WriteRaw(uint8_t* d, const T& v, uint32_t options, uint32_t swapFrom, uint32_t words) {
    if (d) {
        std::memcpy(d, &v, sizeof(T));
        if (options & kSerializeByteSwap) ByteSwapWords(d + swapFrom, words);
    }
    return sizeof(T);
}
template <class T>
bool ReadRaw(BoundedReader& in, T& v) {
    uint8_t tmp[sizeof(T)] = {};
    if (!in.Read(tmp, sizeof(T))) return false;
    std::memcpy(static_cast<void*>(&v), tmp, sizeof(T));
    return true;
}

// Space-separated "%.6f" of n floats.
void PrintFloats(const float* f, int n, char* buffer, uint32_t size) {
    std::string s;
    char one[64];
    for (int i = 0; i < n; ++i) {
        std::snprintf(one, sizeof(one), i ? " %.6f" : "%.6f", static_cast<double>(f[i]));
        s += one;
    }
    Print(buffer, size, "%s", s.c_str());
}
// Parses up to n blank-separated floats into f (as "%f %f ..."); unparsed ones keep
// their value. True when at least one parsed.
bool ScanFloats(const char* text, float* f, int n) {
    int parsed = 0;
    for (int i = 0; i < n; ++i) {
        float v;
        int used = 0;
        if (std::sscanf(text, " %f%n", &v, &used) != 1) break;
        f[i] = v;
        text += used;
        ++parsed;
    }
    return parsed > 0;
}
bool FloatsEqual(const float* a, const float* b, int n) {
    for (int i = 0; i < n; ++i)
        if (!(a[i] == b[i])) return false;
    return true;
}

long ParseLong(const char* text) { return std::strtol(text, nullptr, 10); }

thread_local std::u16string tWideScratch;

}  // namespace

// ----- scalars --------------------------------------------------------------------

#define RTTI_SCALAR_CODEC(T, FORMAT, CAST, PARSE)                                                   \
    uint32_t RTTIValueCodec<T>::Write(uint8_t* d, const T& v, uint32_t options) {                   \
        return WriteRaw(d, v, options, 0, sizeof(T) == 4 ? 1 : 0);                                  \
    }                                                                                               \
    bool RTTIValueCodec<T>::Read(BoundedReader& in, T& v) { return ReadRaw(in, v); }                \
    void RTTIValueCodec<T>::ToString(const T& v, char* buffer, uint32_t size) {                     \
        Print(buffer, size, FORMAT, CAST);                                                          \
    }                                                                                               \
    bool RTTIValueCodec<T>::FromString(const char* text, T& v) {                                    \
        v = PARSE;                                                                                  \
        return true;                                                                                \
    }                                                                                               \
    bool RTTIValueCodec<T>::Equal(const T& a, const T& b) { return a == b; }

RTTI_SCALAR_CODEC(float, "%.6f", static_cast<double>(v), static_cast<float>(std::strtod(text, nullptr)))
RTTI_SCALAR_CODEC(int32_t, "%d", v, static_cast<int32_t>(ParseLong(text)))
RTTI_SCALAR_CODEC(uint32_t, "%u", v, static_cast<uint32_t>(std::strtoul(text, nullptr, 10)))
RTTI_SCALAR_CODEC(char, "%u", static_cast<unsigned>(static_cast<int>(static_cast<signed char>(v))),
                  static_cast<char>(ParseLong(text)))
RTTI_SCALAR_CODEC(uint8_t, "%u", static_cast<unsigned>(v), static_cast<uint8_t>(ParseLong(text)))
#undef RTTI_SCALAR_CODEC

// A stored bool byte other than 0 or 1 reads as true.
uint32_t RTTIValueCodec<bool>::Write(uint8_t* d, const bool& v, uint32_t) {
    if (d) d[0] = v ? 1 : 0;
    return 1;
}
bool RTTIValueCodec<bool>::Read(BoundedReader& in, bool& v) {
    uint8_t b = 0;
    if (!in.ReadU8(b)) return false;
    v = b != 0;
    return true;
}
void RTTIValueCodec<bool>::ToString(const bool& v, char* buffer, uint32_t size) { Print(buffer, size, "%u", v ? 1u : 0u); }
bool RTTIValueCodec<bool>::FromString(const char* text, bool& v) {
    v = ParseLong(text) != 0;
    return true;
}
bool RTTIValueCodec<bool>::Equal(const bool& a, const bool& b) { return a == b; }

uint32_t RTTIValueCodec<uint16_t>::Write(uint8_t* d, const uint16_t& v, uint32_t options) {
    if (d) StoreU16(d, v, options);
    return 2;
}
bool RTTIValueCodec<uint16_t>::Read(BoundedReader& in, uint16_t& v) { return in.ReadU16(v); }
void RTTIValueCodec<uint16_t>::ToString(const uint16_t& v, char* buffer, uint32_t size) {
    Print(buffer, size, "%u", static_cast<unsigned>(v));
}
bool RTTIValueCodec<uint16_t>::FromString(const char* text, uint16_t& v) {
    v = static_cast<uint16_t>(ParseLong(text) & 0xFFFF);
    return true;
}
bool RTTIValueCodec<uint16_t>::Equal(const uint16_t& a, const uint16_t& b) { return a == b; }

// ----- strings --------------------------------------------------------------------

uint32_t RTTIValueCodec<char*>::Write(uint8_t* d, char* const& v, uint32_t) {
    const size_t len = v ? std::strlen(v) : 0;
    if (d) {
        if (len) std::memcpy(d, v, len);
        d[len] = 0;
    }
    return static_cast<uint32_t>(len + 1);
}
bool RTTIValueCodec<char*>::Read(BoundedReader& in, char*& v) {
    size_t len = 0;
    if (!in.PeekStringLength(len)) return false;
    // Borrowed from the input; the property copies it at once.
    v = len ? const_cast<char*>(reinterpret_cast<const char*>(in.Position())) : nullptr;
    return in.Read(nullptr, len + 1);
}
void RTTIValueCodec<char*>::ToString(char* const& v, char* buffer, uint32_t size) {
    Print(buffer, size, "%s", v ? v : "");
}
bool RTTIValueCodec<char*>::FromString(const char* text, char*& v) {
    v = const_cast<char*>(text);
    return true;
}
bool RTTIValueCodec<char*>::Equal(char* const& a, char* const& b) {
    return std::strcmp(a ? a : "", b ? b : "") == 0;
}

void RTTIValueStore<char*>::Assign(char*& member, char* const& v) {
    char* copy = nullptr;
    if (v && *v) {
        const size_t len = std::strlen(v);
        copy = static_cast<char*>(EngineAlloc(len + 1));
        std::memcpy(copy, v, len + 1);
    }
    EngineFree(member);  // after the copy: v may be the member itself
    member = copy;
}
void RTTIValueStore<char*>::Release(char*& member) {
    EngineFree(member);
    member = nullptr;
}

namespace {
size_t Length16(const char16_t* s) {
    size_t n = 0;
    if (s)
        while (s[n]) ++n;
    return n;
}
}  // namespace

uint32_t RTTIValueCodec<char16_t*>::Write(uint8_t* d, char16_t* const& v, uint32_t options) {
    const size_t len = Length16(v);
    if (d) {
        for (size_t i = 0; i < len; ++i) StoreU16(d + 2 * i, static_cast<uint16_t>(v[i]), options);
        StoreU16(d + 2 * len, 0, options);
    }
    return static_cast<uint32_t>(2 * (len + 1));
}
bool RTTIValueCodec<char16_t*>::Read(BoundedReader& in, char16_t*& v) {
    tWideScratch.clear();
    for (;;) {
        uint16_t unit = 0;
        if (!in.ReadU16(unit)) return false;
        if (unit == 0) break;
        tWideScratch.push_back(static_cast<char16_t>(unit));
    }
    v = tWideScratch.empty() ? nullptr : tWideScratch.data();
    return true;
}
void RTTIValueCodec<char16_t*>::ToString(char16_t* const&, char* buffer, uint32_t size) {
    if (buffer && size) buffer[0] = 0;  // the wide string has no text form
}
bool RTTIValueCodec<char16_t*>::FromString(const char* text, char16_t*& v) {
    const size_t len = std::strlen(text);
    tWideScratch.assign(len + 1, u'\0');
    if (len && !MultiByteToWide(tWideScratch.data(), static_cast<uint32_t>(len + 1), text, static_cast<int32_t>(len),
                                kCodePageUTF8))
        return false;
    tWideScratch.resize(Length16(tWideScratch.data()));
    v = tWideScratch.empty() ? nullptr : tWideScratch.data();
    return true;
}
bool RTTIValueCodec<char16_t*>::Equal(char16_t* const& a, char16_t* const& b) {
    const size_t la = Length16(a), lb = Length16(b);
    return la == lb && (la == 0 || std::memcmp(a, b, 2 * la) == 0);
}

void RTTIValueStore<char16_t*>::Assign(char16_t*& member, char16_t* const& v) {
    char16_t* copy = nullptr;
    const size_t len = Length16(v);
    if (len) {
        copy = static_cast<char16_t*>(EngineAlloc(2 * (len + 1)));
        std::memcpy(copy, v, 2 * (len + 1));
    }
    EngineFree(member);
    member = copy;
}
void RTTIValueStore<char16_t*>::Release(char16_t*& member) {
    EngineFree(member);
    member = nullptr;
}

uint32_t RTTIValueCodec<NameString>::Write(uint8_t* d, const NameString& v, uint32_t) {
    const uint32_t len = v.Length();
    if (d) {
        d[0] = len ? 1 : 0;
        if (len) {
            std::memcpy(d + 1, v.Raw(), len);
            d[1 + len] = 0;
        }
    }
    return len ? len + 2 : 1;
}
bool RTTIValueCodec<NameString>::Read(BoundedReader& in, NameString& v) {
    uint8_t present = 0;
    if (!in.ReadU8(present)) return false;
    if (!present) {
        v.Clear();
        return true;
    }
    size_t len = 0;
    if (!in.PeekStringLength(len)) return false;
    v.Set(reinterpret_cast<const char*>(in.Position()), len);
    return in.Read(nullptr, len + 1);
}
void RTTIValueCodec<NameString>::ToString(const NameString& v, char* buffer, uint32_t size) {
    Print(buffer, size, "%s", v.CStr());
}
bool RTTIValueCodec<NameString>::FromString(const char* text, NameString& v) {
    v = text;
    return true;
}
bool RTTIValueCodec<NameString>::Equal(const NameString& a, const NameString& b) { return a == b; }

// ----- GUID -----------------------------------------------------------------------

uint32_t RTTIValueCodec<SimpleGUID>::Write(uint8_t* d, const SimpleGUID& v, uint32_t) {
    return RTTIWriteGuid(d, v);
}
bool RTTIValueCodec<SimpleGUID>::Read(BoundedReader& in, SimpleGUID& v) { return ReadRaw(in, v); }
void RTTIValueCodec<SimpleGUID>::ToString(const SimpleGUID& v, char* buffer, uint32_t size) {
    v.ToString(buffer, size);
}
bool RTTIValueCodec<SimpleGUID>::FromString(const char* text, SimpleGUID& v) {
    SimpleGUID parsed;
    if (!parsed.FromString(text)) return false;
    v = EntityPointerFixups::Translate(parsed);
    return true;
}
bool RTTIValueCodec<SimpleGUID>::Equal(const SimpleGUID& a, const SimpleGUID& b) { return a == b; }

// ----- maths types ----------------------------------------------------------------

#define RTTI_FLOATS_CODEC(T, N)                                                                   \
    uint32_t RTTIValueCodec<T>::Write(uint8_t* d, const T& v, uint32_t options) {                 \
        return WriteRaw(d, v, options, 0, N);                                                     \
    }                                                                                             \
    bool RTTIValueCodec<T>::Read(BoundedReader& in, T& v) { return ReadRaw(in, v); }              \
    void RTTIValueCodec<T>::ToString(const T& v, char* buffer, uint32_t size) {                   \
        PrintFloats(reinterpret_cast<const float*>(&v), N, buffer, size);                         \
    }                                                                                             \
    bool RTTIValueCodec<T>::FromString(const char* text, T& v) {                                  \
        return ScanFloats(text, reinterpret_cast<float*>(&v), N);                                 \
    }                                                                                             \
    bool RTTIValueCodec<T>::Equal(const T& a, const T& b) {                                       \
        return FloatsEqual(reinterpret_cast<const float*>(&a), reinterpret_cast<const float*>(&b), N); \
    }

RTTI_FLOATS_CODEC(Vector, 4)
RTTI_FLOATS_CODEC(Vector3, 3)
RTTI_FLOATS_CODEC(BoundingBox4, 8)
RTTI_FLOATS_CODEC(Quaternion, 4)
RTTI_FLOATS_CODEC(Matrix, 16)
#undef RTTI_FLOATS_CODEC

uint32_t RTTIValueCodec<HDRColor>::Write(uint8_t* d, const HDRColor& v, uint32_t options) {
    return WriteRaw(d, v, options, 4, 1);
}
bool RTTIValueCodec<HDRColor>::Read(BoundedReader& in, HDRColor& v) { return ReadRaw(in, v); }
void RTTIValueCodec<HDRColor>::ToString(const HDRColor& v, char* buffer, uint32_t size) {
    Print(buffer, size, "%d %d %d %d %.6f", v.c[0], v.c[1], v.c[2], v.c[3], static_cast<double>(v.intensity));
}
bool RTTIValueCodec<HDRColor>::FromString(const char* text, HDRColor& v) {
    int c[4];
    float intensity;
    if (std::sscanf(text, "%d %d %d %d %f", &c[0], &c[1], &c[2], &c[3], &intensity) == 5) {
        for (int k = 0; k < 4; ++k) v.c[k] = static_cast<uint8_t>(c[k]);
        v.intensity = intensity;
        return true;
    }
    // Fallback: a colour vector "%f %f %f %f" (starting from the current colour)
    // through the colour's vector conversion.
    Vector f = v.ToVector();
    if (!ScanFloats(text, &f.x, 4)) return false;
    v.SetFromVector(f);
    return true;
}
bool RTTIValueCodec<HDRColor>::Equal(const HDRColor& a, const HDRColor& b) {
    return std::memcmp(a.c, b.c, 4) == 0 && a.intensity == b.intensity;
}

// ----- bit vector and raw block ---------------------------------------------------

bool RTTIBitVectorPropertyBase::ToString(const void* object, char* buffer, uint32_t size) const {
    std::string s(words * 8 + 1, '\0');
    uint32_t w[64];
    for (uint32_t i = 0; i < words && i < 64; ++i) std::memcpy(&w[i], At(object, offset) + 4 * i, 4);
    WordsToHexString(w, words < 64 ? words : 64, s.data());
    Print(buffer, size, "%s", s.c_str());
    return true;
}
bool RTTIBitVectorPropertyBase::FromString(void* object, const char* text) const {
    uint32_t w[64];
    const uint32_t n = words < 64 ? words : 64;
    std::memcpy(w, At(object, offset), 4 * n);
    const bool ok = HexStringToWords(w, n, text);
    std::memcpy(At(object, offset), w, 4 * n);
    return ok;
}
bool RTTIBitVectorPropertyBase::Equal(const void* a, const void* b) const {
    return std::memcmp(At(a, offset), At(b, offset), 4 * words) == 0;
}
uint32_t RTTIBitVectorPropertyBase::WriteBinary(uint8_t* d, const void* object, uint32_t) const {
    if (d) std::memcpy(d, At(object, offset), 4 * words);
    return 4 * words;
}
bool RTTIBitVectorPropertyBase::ReadBinary(BoundedReader& in, void* object, uint32_t) const {
    return in.Read(At(object, offset), 4 * words);
}

bool RTTIPureMemoryBlockProperty::Equal(const void* a, const void* b) const {
    return std::memcmp(At(a, offset), At(b, offset), size) == 0;
}
uint32_t RTTIPureMemoryBlockProperty::WriteBinary(uint8_t* d, const void* object, uint32_t) const {
    if (d) std::memcpy(d, At(object, offset), size);
    return size;
}
bool RTTIPureMemoryBlockProperty::ReadBinary(BoundedReader& in, void* object, uint32_t) const {
    return in.Read(At(object, offset), size);
}

// ----- arrays and objects ---------------------------------------------------------

namespace RTTIArrayIO {

bool ReadCount(BoundedReader& in, uint32_t& count, uint32_t minElementBytes) {
    return in.ReadU32(count) && in.CheckCount(count, minElementBytes);
}

bool Grown(BoundedReader& in, bool resized) { return resized || in.Fail("out of memory for an array"); }

uint32_t WriteObject(uint8_t* d, const RTTIPolyBaseClass* object, uint32_t options) {
    return object->SolidSerialize(d, options);
}

bool ReadObject(BoundedReader& in, RTTIPolyBaseClass* object, uint32_t options) {
    object->SolidDeserialize(in, options);
    return !in.Failed();
}

namespace {
const char* StoredClassName(const RTTIPolyBaseClass* object, const char* prefix) {
    const RTTIClass* cls = object->GetRTTIClass();
    const char* name = cls && cls->Name() ? cls->Name() : "";
    const size_t plen = std::strlen(prefix);
    return std::strncmp(name, prefix, plen) == 0 ? name + plen : name;
}
}  // namespace

uint32_t WritePolyHeader(uint8_t* d, const RTTIPolyBaseClass* object, const char* prefix) {
    if (!object) {
        if (d) d[0] = 0;
        return 1;
    }
    const char* name = StoredClassName(object, prefix);
    const size_t len = std::strlen(name);
    if (d) {
        d[0] = 1;
        std::memcpy(d + 1, name, len + 1);
    }
    return static_cast<uint32_t>(len + 2);
}

RTTIPolyBaseClass* ReadPolyObject(BoundedReader& in, const char* prefix, const RTTIClass* family) {
    constexpr size_t kMaxClassName = 1023;
    size_t len = 0;
    if (!in.PeekStringLength(len)) return nullptr;
    const size_t plen = std::strlen(prefix);
    if (plen + len > kMaxClassName) {
        in.Fail("class name too long");
        return nullptr;
    }
    char full[kMaxClassName + 1];
    std::memcpy(full, prefix, plen);
    std::memcpy(full + plen, in.Position(), len);
    full[plen + len] = 0;
    in.Read(nullptr, len + 1);
    if (family) {
        const RTTIClass* c = RTTIClassRegistry::FindClass(full);
        while (c && c != family) c = c->Base();
        if (!c) {
            in.Fail("array element of an unrelated class");
            return nullptr;
        }
    }
    RTTIPolyBaseClass* object = NameRegistry::CreateObject(full);
    if (!object) {
        gLog.Error(LogCategory::Engine, "Class factory cannot create an object of class %s. Some objects cannot be deserialized properly.",
                   full);
        in.Fail(nullptr);
    }
    return object;
}

bool SameClass(const RTTIPolyBaseClass* a, const RTTIPolyBaseClass* b) { return a->GetRTTIClass() == b->GetRTTIClass(); }

}  // namespace RTTIArrayIO
