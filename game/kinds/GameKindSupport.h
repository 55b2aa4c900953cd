#pragma once
// Shared pieces of the game's kinds: creation through the class-name registry and the
// entity factories (null when memory runs out), owned-text helpers, and the reading of
// an enumeration value with a name table.
#include <cstdint>
#include <new>

#include "core/rtti/RTTIClass.h"
#include "core/rtti/RTTIProperty.h"

class Entity;

// The registration and descriptor members every game class declares: RegisterRTTIClass
// (name: the registered class name, null for the class's own), RegisterClass for the
// start-up rows, and the class descriptor.
#define ZKR_GAME_CLASS_BOILERPLATE()                                           \
    static const RTTIClass* RegisterRTTIClass(const char* name = nullptr);      \
    static const RTTIClass* RegisterClass() { return RegisterRTTIClass(); }     \
    const RTTIClass* GetRTTIClass() const override;

// The factory a template class registers with the class-name registry.
template <class T>
RTTIPolyBaseClass* CreateGameObject(int32_t) {
    return new (std::nothrow) T();
}

// CreateEntity of a template: the entity with its constructor defaults, or null.
template <class T>
T* NewGameEntity() {
    return new (std::nothrow) T();
}

// Replaces an owned single-byte text with a copy of text (null or empty: unset).
inline void SetOwnedText(char*& member, const char* text) {
    RTTIValueStore<char*>::Assign(member, const_cast<char*>(text));
}

// The name of an enumeration value from its table ("A\0B\0...\0"); a value the table does
// not hold (read from data as it was stored) answers the first name, the default.
const char* EnumerationName(const char* names, uint32_t value);

// The part of a referenced template name after the last '/' and then the last '\'; the
// whole name without the flag; null for null.
const char* ReferencedTemplateName(const char* name, bool bareName);
