#include "core/rtti/SolidBlob.h"

#include <cstring>

#include "core/BoundedReader.h"
#include "core/ByteOrder.h"
#include "core/CRC32.h"
#include "core/Log.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/RTTIEntityPointer.h"

void SolidSerializeToBuffer(const RTTIPolyBaseClass& object, std::vector<uint8_t>& out, uint32_t options) {
    const uint32_t n = object.SolidSerialize(nullptr, options);
    const size_t at = out.size();
    const size_t header = (n && (options & kSerializeSolidCheck)) ? 12 : 4;
    out.resize(at + header + n);
    uint8_t* d = out.data() + at;
    StoreU32(d, n, options);
    if (n == 0) return;
    uint8_t* payload = d + header;
    object.SolidSerialize(payload, options);
    if (options & kSerializeSolidCheck) {
        const RTTIClass* cls = object.GetRTTIClass();
        const uint32_t check = cls ? cls->GetLayoutHash(&object) : 0;
        const uint32_t crc = CRC32::GetDefault().Compute(payload, n);
        std::memcpy(d + 4, &check, 4);  // never swapped
        std::memcpy(d + 8, &crc, 4);
    }
}

bool SolidDeserializeFromBuffer(RTTIPolyBaseClass& object, BoundedReader& in, uint32_t options) {
    uint32_t n = 0;
    if (!in.ReadU32(n)) return false;
    if (n == 0) return true;
    uint32_t check = 0, crc = 0;
    if (options & kSerializeSolidCheck) {
        if (!in.ReadU32(check) || !in.ReadU32(crc)) return false;
    }
    if (n > in.Remaining()) return in.Fail("blob size larger than the input");
    const uint8_t* payload = in.Position();
    if (options & kSerializeSolidCheck) {
        const RTTIClass* cls = object.GetRTTIClass();
        if (!cls || check != cls->GetLayoutHash(&object)) {
            if (const char* source = BoundedReaderSource::Current())
                gLog.Error(LogCategory::Engine, "SolidDeserializeFromFileReader - magic check error!!! (%s)", source);
            else
                gLog.Error(LogCategory::Engine, "SolidDeserializeFromFileReader - magic check error!!!");
            in.Fail(nullptr);
            return false;
        }
        if (CRC32::GetDefault().Compute(payload, n) != crc) {
            if (const char* source = BoundedReaderSource::Current())
                gLog.Error(LogCategory::Engine, "SolidDeserializeFromFileReader - CRC check error!!! (%s)", source);
            else
                gLog.Error(LogCategory::Engine, "SolidDeserializeFromFileReader - CRC check error!!!");
            in.Fail(nullptr);
            return false;
        }
    }
    in.Read(nullptr, n);
    // A payload that passes its checks may still stop parsing half-way (a wild count,
    // a cut with a matching size word). It is read into a scratch object first, and
    // the object reads the same bytes only when that read was complete.
    const RTTIClass* cls = object.GetRTTIClass();
    if (RTTIPolyBaseClass* scratch = cls ? cls->CreateScratch() : nullptr) {
        bool complete;
        {
            EntityPointerScratchScope dropEntityPointers;
            BoundedReader trial(payload, n);
            scratch->SolidDeserialize(trial, options);
            complete = !trial.Failed();
        }
        delete scratch;
        if (!complete) return in.Fail(nullptr);
    }
    // The payload is read through its own reader, so it cannot run into bytes after
    // the blob.
    BoundedReader body(payload, n);
    object.SolidDeserialize(body, options);
    if (body.Failed()) return in.Fail(nullptr);
    return true;
}

bool SolidDeserializeFromBuffer(RTTIPolyBaseClass& object, const void* data, size_t size, uint32_t options) {
    BoundedReader in(data, size);
    return SolidDeserializeFromBuffer(object, in, options);
}
