#include "core/rtti/SafePointer.h"

SafePointerRoot::~SafePointerRoot() { SafePointerRoot::ClearSafePointers(); }

void SafePointerRoot::ClearSafePointers() {
    SafePointerListNode* node = head;
    head = nullptr;
    while (node) {
        SafePointerListNode* next = node->next;
        node->next = node->prev = nullptr;
        node->OnTargetDestroyed();
        node = next;
    }
}

void SafePointerRoot::AddPointer(SafePointerListNode* node) {
    node->root = this;
    node->prev = nullptr;
    node->next = head;
    if (head) head->prev = node;
    head = node;
}

void SafePointerRoot::RemovePointer(SafePointerListNode* node) {
    if (node->prev) node->prev->next = node->next;
    else if (head == node) head = node->next;
    if (node->next) node->next->prev = node->prev;
    node->next = node->prev = nullptr;
    node->root = nullptr;
}

uint32_t SafePointerRoot::CountSafePointers() const {
    uint32_t n = 0;
    for (const SafePointerListNode* p = head; p; p = p->next) ++n;
    return n;
}
