#pragma once
// Weak pointers that empty themselves when their target dies.
//
// A target derives from SafePointerRoot and keeps a doubly linked list of the
// SafePointerListNodes aimed at it; its destructor (or ClearSafePointers) walks the
// list and nulls every one. Safe pointers are not locked: a target and the safe
// pointers to it belong to one thread, or their owner serialises them.
#include <cstdint>

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
// Arrays of safe pointers are DynarraySafe<SafePointer<T>>: it moves and copies
// elements one by one through this type's copy and assignment, so every element
// stays linked into its target's list.
template <class T>
void SafePointerArrayAssign(SafePointer<T>* destination, const SafePointer<T>* source, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) destination[i].Assign(source[i].Get());
}
