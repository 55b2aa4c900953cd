#pragma once
// Weak pointers that empty themselves when their target dies.
//
// A target derives from SafePointerRoot and keeps a doubly linked list of the
// SafePointerListNodes aimed at it; its destructor (or ClearSafePointers) walks the
// list and nulls every one. Safe pointers are not locked: a target and the safe
// pointers to it belong to one thread, or their owner serialises them.
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

class SafePointerListNode;

class SafePointerRoot {
public:
    SafePointerRoot() = default;
    // Copying an object never copies the list: the safe pointers stay with the
    // object they were aimed at.
    SafePointerRoot(const SafePointerRoot&) {}
    SafePointerRoot& operator=(const SafePointerRoot&) { return *this; }
    virtual ~SafePointerRoot();

    // Detaches the whole list and nulls every safe pointer in it.
    virtual void ClearSafePointers();
    virtual void SafePointerHook() {}

    void AddPointer(SafePointerListNode* node);
    void RemovePointer(SafePointerListNode* node);
    // Number of linked safe pointers (walks the list; for checks and tests).
    uint32_t CountSafePointers() const;

private:
    friend class SafePointerListNode;
    SafePointerListNode* head = nullptr;
};

class SafePointerListNode {
public:
    SafePointerListNode() = default;
    SafePointerListNode(const SafePointerListNode&) = delete;
    SafePointerListNode& operator=(const SafePointerListNode&) = delete;
    virtual ~SafePointerListNode() { Unlink(); }
    // Called by the dying target after the node was unlinked.
    virtual void OnTargetDestroyed() { root = nullptr; }

    SafePointerRoot* Root() const { return root; }

protected:
    // Unlinks from the current target and links into newRoot (may be null).
    void Relink(SafePointerRoot* newRoot) {
        if (newRoot == root) return;
        Unlink();
        if (newRoot) newRoot->AddPointer(this);
    }
    void Unlink() {
        if (root) root->RemovePointer(this);
    }

private:
    friend class SafePointerRoot;
    SafePointerListNode* next = nullptr;
    SafePointerListNode* prev = nullptr;
    SafePointerRoot* root = nullptr;
};

// T must derive from SafePointerRoot (complete where Assign or Get are used).
template <class T>
class SafePointer : public SafePointerListNode {
public:
    using Pointee = T;
    SafePointer() = default;
    explicit SafePointer(T* target) { Assign(target); }
    SafePointer(const SafePointer& other) : SafePointerListNode() { Assign(other.Get()); }
    SafePointer& operator=(const SafePointer& other) {
        Assign(other.Get());
        return *this;
    }
    SafePointer& operator=(T* target) {
        Assign(target);
        return *this;
    }

    // No effect when the target is unchanged.
    void Assign(T* target) {
        if (target == value) return;
        value = target;
        Relink(target);
    }
    T* Get() const { return value; }
    T* operator->() const { return value; }
    explicit operator bool() const { return value != nullptr; }
    bool operator==(const SafePointer& other) const { return value == other.value; }

    void OnTargetDestroyed() override {
        SafePointerListNode::OnTargetDestroyed();
        value = nullptr;
    }

private:
    T* value = nullptr;
};

// Assigns element by element, so each destination links into its new target.
template <class T>
void SafePointerArrayAssign(SafePointer<T>* destination, const SafePointer<T>* source, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) destination[i].Assign(source[i].Get());
}

// A growable array of safe pointers {count, capacity, storage}: capacity doubles
// from 2; every constructed element stays linked into its target's list, because
// elements are moved by assignment, never by copying bytes. Same thread rule as
// SafePointer.
template <class T>
class SafePointerArray {
public:
    SafePointerArray() = default;
    SafePointerArray(const SafePointerArray& other) { *this = other; }
    SafePointerArray& operator=(const SafePointerArray& other) {
        if (this == &other) return *this;
        Resize(other.count);
        SafePointerArrayAssign(data, other.data, other.count);
        return *this;
    }
    ~SafePointerArray() { Free(); }

    uint32_t Count() const { return count; }
    uint32_t Capacity() const { return capacity; }
    SafePointer<T>& operator[](uint32_t i) { return data[i]; }
    const SafePointer<T>& operator[](uint32_t i) const { return data[i]; }
    SafePointer<T>* Data() { return data; }

    void Add(T* target) {
        Grow(count + 1);
        new (&data[count]) SafePointer<T>(target);
        ++count;
    }
    // Inserts at index (appends when index == count), shifting the tail up by
    // assignment from the end.
    void Insert(T* target, uint32_t index) {
        if (index > count) index = count;
        Grow(count + 1);
        new (&data[count]) SafePointer<T>();
        ++count;
        Move(index + 1, index, count - 1 - index);
        data[index].Assign(target);
    }
    void RemoveAt(uint32_t index) {
        if (index >= count) return;
        Move(index, index + 1, count - 1 - index);
        data[--count].~SafePointer<T>();
    }
    // Sets the count; new elements are null, surplus elements are destroyed.
    void Resize(uint32_t n) {
        Grow(n);
        while (count < n) new (&data[count++]) SafePointer<T>();
        while (count > n) data[--count].~SafePointer<T>();
    }
    void Free() {
        Resize(0);
        ::operator delete(static_cast<void*>(data));
        data = nullptr;
        capacity = 0;
    }
    // Moves n elements within the array by assignment; runs from the end when the
    // destination lies after the source, so overlapping ranges are safe.
    void Move(uint32_t to, uint32_t from, uint32_t n) {
        if (to > from) {
            for (uint32_t i = n; i-- > 0;) data[to + i].Assign(data[from + i].Get());
        } else if (to < from) {
            for (uint32_t i = 0; i < n; ++i) data[to + i].Assign(data[from + i].Get());
        }
    }

private:
    void Grow(uint32_t needed) {
        if (needed <= capacity) return;
        uint32_t cap = capacity ? capacity : 2;
        while (cap < needed) cap *= 2;
        auto* fresh = static_cast<SafePointer<T>*>(::operator new(sizeof(SafePointer<T>) * cap));
        for (uint32_t i = 0; i < count; ++i) {
            new (&fresh[i]) SafePointer<T>(data[i].Get());
            data[i].~SafePointer<T>();
        }
        ::operator delete(static_cast<void*>(data));
        data = fresh;
        capacity = cap;
    }

    uint32_t count = 0;
    uint32_t capacity = 0;
    SafePointer<T>* data = nullptr;
};
