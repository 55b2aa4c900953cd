#pragma once
// The class registry and the property walk.
//
// Every serialisable class derives from RTTIPolyBaseClass (or is a plain record)
// and describes its members to one RTTIClass by registering property objects, once,
// during the ordered start-up. The descriptors, kept in RTTIClassRegistry sorted by
// class name, drive binary saving and loading (the Solid blob payload), text access
// to single properties, equality and the class-layout check value.
//
// File format: payloads carry no names or sizes. The walk visits every class of
// the hierarchy (the class itself included) sorted by class name case-insensitively,
// and within each class its properties in declaration order; so the registered
// class names, property types, flags and order are the file format.
//
// Threads: registration runs single-threaded at start-up; afterwards descriptors are
// immutable and lookups and walks take no lock (any thread).
#include <cstddef>
#include <cstdint>

#include "core/rtti/SafePointer.h"

class BoundedReader;
class FileReader;
class RTTIProperty;
class RTTIClass;
class RTTIPolyBaseClass;

// Creation function of a class factory: receives the class's index in the
// NameRegistry's registration order.
using RTTICreateFunction = RTTIPolyBaseClass* (*)(int32_t classIndex);

// The base name passed by root classes; never registered.
constexpr const char* kRTTIRootBaseName = "RTTIPropertiesBase";
// Property flags with behaviour in the walk.
constexpr uint32_t kPropertyFlagGuid = 4;          // skipped with serialisation option 1
constexpr uint32_t kPropertyFlagEnum = 0x80;       // extra = null-terminated value names
constexpr uint32_t kPropertyFlagFileName = 0x800;  // extra = folder name
constexpr uint32_t kPropertyFlagNoSerialize = 0x4000;
// Names are compared through a 260-byte copy in lookups.
constexpr uint32_t kRTTIMaxNameLength = 259;

// ASCII case-insensitive compare in the C locale ('_' sorts before letters).
int RTTIStricmp(const char* a, const char* b);

// A small growable pointer list (capacity doubles from 2); internal to descriptors.
struct RTTIPointerList {
    void** items = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;
    void Insert(uint32_t index, void* p);
    void RemoveAt(uint32_t index);
    void Free();
};

class RTTIClass {
public:
    RTTIClass() = default;
    RTTIClass(const RTTIClass&) = delete;
    RTTIClass& operator=(const RTTIClass&) = delete;
    // Deletes the owned properties and frees the lists; does not unregister.
    ~RTTIClass();

    // Stores the name (not copied), appends the class to its own chain, links the
    // base found by name (null when not registered, e.g. kRTTIRootBaseName) and
    // inserts the class into the registry (upper bound). With a factory, the class
    // is also registered with NameRegistry and id holds its class index.
    void Register(const char* className, const char* baseClassName, RTTICreateFunction factory = nullptr);
    // Stores the base and inserts it and each of its bases into the chain, sorted.
    void SetBase(RTTIClass* base);
    // Takes ownership. Folds {u32 type id, u32 flags} and the name bytes into the
    // layout hash with the running CRC-32.
    void AddProperty(RTTIProperty* property);

    const RTTIProperty* FindProperty(const char* name) const;
    const RTTIProperty* FindPropertyInChain(const char* name) const;

    // Class-layout check value: layout hash ^ each property's LayoutValue ^ the
    // property count ^ the base's value (recursively).
    uint32_t GetLayoutHash(const void* object) const;

    // The walk. A null buffer only sizes. Returns the bytes written.
    uint32_t SerializeProperties(uint8_t* buffer, const void* object, uint32_t options) const;
    // Returns the bytes consumed; a corrupt input fails the reader (in.Failed()) and
    // stops the walk, the object partially read but valid. Without option 4 the
    // outermost call opens and resolves the entity-pointer pass.
    uint32_t DeserializeProperties(BoundedReader& in, void* object, uint32_t options) const;
    // Every property of every class of the chain reports equal; flags not consulted.
    bool PropertiesEqual(const void* a, const void* b) const;
    // Reads a u32 size from the reader (0: nothing to read, true), then that many bytes
    // through a reusable per-thread buffer, and deserialises them into object. False
    // with one log line when the size exceeds the file or the bytes run short (object
    // untouched), or when the payload does not parse (object partially read).
    bool ReadPropertiesBlock(FileReader& reader, void* object, uint32_t options) const;

    // Blank objects for whole-or-nothing loads: the Solid blob reader reads a payload
    // into one first and into the real object only when it parsed completely, so a
    // payload that stops parsing half-way leaves the object as it was. The class's own
    // scratch factory when set, else its NameRegistry factory; null when it has
    // neither (such objects are read in place). The caller deletes the object.
    void SetScratchFactory(RTTICreateFunction create) { scratchFactory = create; }
    RTTIPolyBaseClass* CreateScratch() const;

    const char* Name() const { return name; }
    RTTIClass* Base() const { return base; }
    uint32_t PropertyCount() const { return properties.count; }
    const RTTIProperty* PropertyAt(uint32_t i) const { return static_cast<const RTTIProperty*>(properties.items[i]); }
    uint32_t ChainCount() const { return chain.count; }
    const RTTIClass* ChainAt(uint32_t i) const { return static_cast<const RTTIClass*>(chain.items[i]); }
    uint32_t StoredLayoutHash() const { return layoutHash; }

    // Class index slot: -1, or the NameRegistry index when registered with a factory.
    int32_t id = -1;

private:
    RTTIPointerList properties;        // declaration order
    RTTIPointerList sortedProperties;  // by name, case-insensitive
    const char* name = nullptr;
    RTTIClass* base = nullptr;
    RTTIPointerList chain;  // self and bases, by class name, case-insensitive
    uint32_t layoutHash = 0;
    RTTICreateFunction scratchFactory = nullptr;
};

// All registered descriptors, sorted by class name (case-insensitive).
class RTTIClassRegistry {
public:
    static RTTIClass* FindClass(const char* name);
    static int32_t FindIndex(const char* name);
    // Removes the entry whose name equals the descriptor's; a missing name changes nothing.
    static void RemoveClass(const RTTIClass* descriptor);
    static uint32_t Count();
    static RTTIClass* At(uint32_t index);

private:
    friend class RTTIClass;
    static void Insert(RTTIClass* descriptor);
};

// Root of every serialisable class. Its virtual operations, after the destructor and
// SafePointerRoot's ClearSafePointers and SafePointerHook (empty):
//   GetRTTIClass; SolidSerialize; SolidDeserialize; LoadFromFile and SaveToFile (both
//   defined with the file system, core/rtti/SolidFile.cpp);
//   OnPropertyChanged (name of the changed property, or null for "all"): the
//      properties-changed hook. Configuration objects override it; Entity serves it
//      with its RefreshAfterChange.
//   OnPropertyEdited (name, context): the two-argument hook; Entity's per-property
//      reaction (e.g. re-mounting on "Mount to bone") overrides it.
//   OnPreDeserialize (options): before a property list is read.
//   OnLoaded (options, the load-flag word): after a property list was read.
class RTTIPolyBaseClass : public SafePointerRoot {
public:
    RTTIPolyBaseClass() = default;
    RTTIPolyBaseClass(const RTTIPolyBaseClass& other) = default;
    RTTIPolyBaseClass& operator=(const RTTIPolyBaseClass& other) = default;
    ~RTTIPolyBaseClass() override = default;

    virtual const RTTIClass* GetRTTIClass() const = 0;
    // Writes the property list; a null buffer returns the size only.
    virtual uint32_t SolidSerialize(uint8_t* buffer, uint32_t options) const;
    // OnPreDeserialize, the property walk, OnLoaded; returns the bytes consumed.
    virtual uint32_t SolidDeserialize(BoundedReader& in, uint32_t options);
    // The object's Solid blob as the file (name, extension, directory) of gFileSystem.
    // False when the file cannot be opened or created (nothing logged) or the blob fails.
    virtual bool LoadFromFile(const char* name, const char* extension, const char* directory, uint32_t options);
    virtual bool SaveToFile(const char* name, const char* extension, const char* directory, uint32_t options) const;
    virtual void OnPropertyChanged(const char* propertyName) {}
    virtual void OnPropertyEdited(const char* propertyName, const void* context) {}
    virtual void OnPreDeserialize(uint32_t options) {}
    virtual void OnLoaded(uint32_t options) {}

    // Text access to one property of the class chain by name (case-insensitive),
    // through the property's text form. False when the name is unknown or the
    // property has no text form.
    bool GetPropertyValueAsString(const char* name, char* buffer, uint32_t size) const;
    // The same into a per-thread 4096-byte buffer; null when not available.
    const char* GetPropertyValueAsString(const char* name) const;
    bool SetPropertyFromString(const char* name, const char* text);
};

// Class name to creation function: the factory of polymorphic arrays and resource
// pools. Registration at start-up; lookups take no lock.
class NameRegistry {
public:
    // Copies the name; returns its index in registration order.
    static int32_t Register(const char* name, RTTICreateFunction create);
    // Exact (case-sensitive) lookup; -1 when unknown.
    static int32_t FindIndex(const char* name);
    // Null when the name is unknown.
    static RTTIPolyBaseClass* CreateObject(const char* name);
    static uint32_t Count();
    // Frees both tables and the copied names (process exit, tests).
    static void Release();
};

// 4096 rows {base row, type name}; row number = template type id; a base row of
// 4096 or more means no base. Engine types use rows below 256, game types 256 up.
class TemplateTypeTable {
public:
    static constexpr uint32_t kRows = 4096;
    struct Row {
        uint32_t base = kRows;
        const char* name = nullptr;
    };
    static Row* Get();
    // True when typeId equals baseId or derives from it; stops after kRows steps, so
    // a cyclic chain answers false.
    static bool IsA(uint32_t typeId, uint32_t baseId);
};

// For registration functions run by start-up rows (core/StaticInit.h): builds the
// descriptor into slot, registers it (base looked up by name, so the caller registers
// its base first) and pushes the exit handler that unregisters and destroys it and
// clears the slot, so a later registration call (after RunStaticShutdown) builds it
// anew. The caller adds the properties to the returned descriptor.
RTTIClass* CreateRegisteredClass(RTTIClass*& slot, const char* className, const char* baseClassName,
                                 RTTICreateFunction factory = nullptr);
