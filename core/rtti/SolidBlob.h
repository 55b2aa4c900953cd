#pragma once
// The Solid blob: one object's binary property list with a size word and, with
// option 16, a class-layout check value and a CRC-32 of the payload.
//
//   u32 payload size N (0: no payload)
//   u32 class-layout check value   (option 16 only)
//   u32 CRC-32 of the N bytes      (option 16 only)
//   N bytes: the property list (RTTIPolyBaseClass::SolidSerialize)
//
// With option 2 the size word and the payload values are byte-swapped; the check
// value and the CRC are not, and the CRC covers the payload as written. Readers never
// swap. These are the in-memory forms; file readers and writers wrap them.
#include <cstddef>
#include <cstdint>
#include <vector>

class RTTIPolyBaseClass;
class BoundedReader;

// Appends the blob of object to out.
void SolidSerializeToBuffer(const RTTIPolyBaseClass& object, std::vector<uint8_t>& out, uint32_t options);

// Reads one blob. N = 0 succeeds and leaves the object untouched. A size larger than
// the remaining input, a check value that differs from the object's current one
// ("SolidDeserializeFromFileReader - magic check error!!!") or a wrong CRC
// ("SolidDeserializeFromFileReader - CRC check error!!!") fail with the object
// untouched. A payload that does not parse fails too: with the object untouched when
// its class can make a scratch object (RTTIClass::CreateScratch), else partly read.
bool SolidDeserializeFromBuffer(RTTIPolyBaseClass& object, BoundedReader& in, uint32_t options);
bool SolidDeserializeFromBuffer(RTTIPolyBaseClass& object, const void* data, size_t size, uint32_t options);
