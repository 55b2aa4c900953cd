#include "render/VornexRendererObject.h"

#include "render/RenderJobs.h"
#include "render/VornexRenderer.h"

const RTTIClass* VornexRendererObject::GetRTTIClass() const {
    return RTTIClassRegistry::FindClass("VornexRendererObject");
}

void VornexRendererObject::Release(bool viaStream, bool wait) {
    PreRelease();
    pendingRelease.store(true, std::memory_order_release);
    if (viaStream) {
        VornexRendererObject* self = this;
        if (gVornexRenderer.IsRendererRunning() && gVornexRenderer.BeginCommand(TASK_DESTROY_OBJECT, sizeof self)) {
            gVornexRenderer.Ring().WriteValue(self);
            return;
        }
        // No stream to carry it: the deletion job keeps the object from leaking.
    }
    if (!wait) {
        SubmitObjectDeletionJob(this, false);
        return;
    }
    VornexRendererObjetDeletionJob job(this, JOB_WANTS_EVENT);
    SubmitResourceJob(&job, true);
}
