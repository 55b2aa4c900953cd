#pragma once
// VornexRendererObject: base of render-side objects (shader objects, light and
// scene-parameter wrappers, mesh rendering data) whose device objects live on the render
// thread and whose deletion therefore happens there.
//
// Virtual operations after the RTTIPolyBaseClass ones: Destroy (releases the device
// objects and deletes the object; render thread), PreRelease (a hook run by Release on
// the releasing thread).
//
// Threads: MarkDirty and Release on the owning (main or loader) thread; Destroy on the
// render thread (render command 50 or a deletion job). The flags are atomics, read by
// the render thread.
#include <atomic>

#include "core/rtti/RTTIClass.h"

class VornexRendererObject : public RTTIPolyBaseClass {
public:
    VornexRendererObject() = default;
    ~VornexRendererObject() override = default;

    // The bare class "VornexRendererObject" registered at start-up; subclasses return
    // their own.
    const RTTIClass* GetRTTIClass() const override;
    // Render thread: release device objects and delete.
    virtual void Destroy() { delete this; }
    virtual void PreRelease() {}

    void MarkDirty() { changed.store(true, std::memory_order_release); }
    bool IsChanged() const { return changed.load(std::memory_order_acquire); }
    void ClearChanged() { changed.store(false, std::memory_order_release); }
    bool IsPendingRelease() const { return pendingRelease.load(std::memory_order_acquire); }

    // Runs PreRelease and marks the object pending; then, via the stream, posts render
    // command 50 (destroyed in stream order; main thread); otherwise without waiting a
    // fire-and-forget deletion job, or with waiting a deletion job waited for. The
    // object must not be used afterwards.
    void Release(bool viaStream, bool wait);

private:
    std::atomic<bool> changed{false};
    std::atomic<bool> pendingRelease{false};
};
