#pragma once
// The tap-position table: the position of the tap each object (a UI element or an
// entity) follows, at most 64 records, keyed by the object's address. The main thread
// keeps the records; the UI's draw reads them from the render side, so every access
// takes the table's lock.
#include "core/math/Vector.h"

// Under the table's lock, the first record keyed by the object; null when there is none.
// The pointer is for readers on the main thread, which alone writes the records.
const Vector* FindTapPosition(const void* object);
// The same lookup copying the position out under the lock, for readers on another thread
// than the one keeping the records: false when there is none.
bool FindTapPosition(const void* object, Vector* out);
// Keeps the object's position (null position: removes its record). A new record is
// dropped when the table is full.
void SetTapPosition(const void* object, const Vector* position);
