#pragma once
// Render resource jobs: device work (create, fill, read back, release device objects)
// wrapped by other threads and run by the render thread.
//
// A job is handed to the renderer's resource-job queue (VornexRenderer_Jobs.cpp), or,
// when it must run in order with earlier render commands, travels as render command 51
// inside the command stream ("in stream"; only the main thread writes the stream). The
// render thread executes queued jobs between frames under a cost and time budget.
//
// Ownership and lifetime:
//  - A waited job belongs to its submitter, who waits for it (WaitForCompletion, also
//    run by the destructor) and then reads its result and deletes it.
//  - A fire-and-forget job is deleted by the render thread after it ran; the submitter
//    never touches it after SubmitResourceJob.
//  - While the renderer's thread does not run, a submitted job runs at once on the
//    submitting thread (there is no device to race with then).
//
// Threads: construction, submission and waiting on any thread (in-stream jobs: main
// thread); Execute and the results' production on the render thread. The done flag is
// atomic; results are read only after WaitForCompletion returned.
#include <atomic>
#include <cstdint>

#include "platform/gfx/GfxDevice.h"

class DeviceObjectHandle;
class VornexRenderer;
class VornexRendererObject;
namespace os {
class Event;
}

class VornexRendererResourceAccessJob {
public:
    VornexRendererResourceAccessJob(bool wantsEvent, bool fireAndForget, bool inStream);
    // Waits for completion unless fire-and-forget (a never-submitted job is done). Every
    // concrete job's destructor waits first (WaitBeforeDestruction), so the render
    // thread never runs a job whose destruction has begun.
    virtual ~VornexRendererResourceAccessJob();
    VornexRendererResourceAccessJob(const VornexRendererResourceAccessJob&) = delete;
    VornexRendererResourceAccessJob& operator=(const VornexRendererResourceAccessJob&) = delete;

    // Cost units of one execution (the queue's budget is 1000 units per pass).
    virtual uint32_t GetCost() const = 0;
    // Render thread: true when finished, false to be executed again in a later pass.
    virtual bool Execute(VornexRenderer& renderer) = 0;

    // Returns once the render thread finished the job (at once when it is done).
    void WaitForCompletion();
    bool IsDone() const { return done.load(std::memory_order_acquire); }
    bool IsFireAndForget() const { return fireAndForget; }
    bool IsInStream() const { return inStream; }
    uint32_t FrameStamp() const { return frameStamp; }

protected:
    void WaitBeforeDestruction() {
        if (!fireAndForget) WaitForCompletion();
    }

private:
    friend class VornexRenderer;
    friend void SubmitResourceJob(VornexRendererResourceAccessJob* job, bool wait);
    // Render thread: signals the submitter (or deletes a fire-and-forget job). The job
    // must not be touched afterwards.
    void Complete();

    uint32_t frameStamp = 0;
    std::atomic<bool> done{true};
    os::Event* event = nullptr;
    bool wantsEvent;
    bool fireAndForget;
    bool inStream;
};

// Queues an idle job (marks it not done, creates its event when it wants one; an
// in-stream job goes into the command stream, which is then flushed without waiting)
// and with wait returns after it ran. A job that is still pending is not queued again.
void SubmitResourceJob(VornexRendererResourceAccessJob* job, bool wait);
// Fire-and-forget jobs; nothing for null.
void SubmitResourceAddRefJob(DeviceObjectHandle* handle, bool inStream);
void SubmitTextureDeletionJob(DeviceObjectHandle* handle, bool inStream);
void SubmitObjectDeletionJob(VornexRendererObject* object, bool inStream);

// Job construction flags.
enum : uint32_t { JOB_WANTS_EVENT = 1, JOB_FIRE_AND_FORGET = 2, JOB_IN_STREAM = 4 };

class VornexRendererResourceAddRefJob : public VornexRendererResourceAccessJob {
public:
    VornexRendererResourceAddRefJob(DeviceObjectHandle* handle, uint32_t jobFlags);
    ~VornexRendererResourceAddRefJob() override { WaitBeforeDestruction(); }
    uint32_t GetCost() const override { return 50; }
    bool Execute(VornexRenderer& renderer) override;

private:
    DeviceObjectHandle* handle;
};

// Drops one reference of the handle; the last one releases the texture and the holder.
class VornexRendererTextureDeletionJob : public VornexRendererResourceAccessJob {
public:
    VornexRendererTextureDeletionJob(DeviceObjectHandle* handle, uint32_t jobFlags);
    ~VornexRendererTextureDeletionJob() override { WaitBeforeDestruction(); }
    uint32_t GetCost() const override { return 50; }
    bool Execute(VornexRenderer& renderer) override;

private:
    DeviceObjectHandle* handle;
};

class VornexRendererObjetDeletionJob : public VornexRendererResourceAccessJob {
public:
    VornexRendererObjetDeletionJob(VornexRendererObject* object, uint32_t jobFlags);
    ~VornexRendererObjetDeletionJob() override { WaitBeforeDestruction(); }
    uint32_t GetCost() const override { return 200; }
    bool Execute(VornexRenderer& renderer) override;

private:
    VornexRendererObject* object;
};

// Releases the device texture and keeps the (empty) holder.
class VornexRendererTextureUnloadDataJob : public VornexRendererResourceAccessJob {
public:
    VornexRendererTextureUnloadDataJob(DeviceObjectHandle* handle, uint32_t jobFlags);
    ~VornexRendererTextureUnloadDataJob() override { WaitBeforeDestruction(); }
    uint32_t GetCost() const override { return 0; }
    bool Execute(VornexRenderer& renderer) override;

private:
    DeviceObjectHandle* handle;
};

// Base of the creation jobs: a data block (EngineAlloc) copied from the caller or taken
// over, freed with the job.
class VornexRendererResourceCreationJob : public VornexRendererResourceAccessJob {
public:
    VornexRendererResourceCreationJob(const void* data, uint32_t size, bool takeOver, uint32_t jobFlags);
    ~VornexRendererResourceCreationJob() override;
    uint32_t GetCost() const override { return 1000; }
    // After completion: the data block (EngineAlloc), which the job then no longer frees,
    // and its size; null when the job had none.
    void* TakeData(uint32_t* size) {
        void* block = data;
        if (size) *size = dataSize;
        data = nullptr;
        dataSize = 0;
        return block;
    }

protected:
    uint8_t* data = nullptr;
    uint32_t dataSize = 0;
};

// A texture of the given shape; with pixels (rows of width x bytes per texel of the
// format, tightly packed) the second pass loads them into level 0. The result handle
// belongs to whoever takes it (TakeHandle); the destructor hands an untaken one to a
// deletion job.
class VornexRendererTextureCreationJob : public VornexRendererResourceCreationJob {
public:
    VornexRendererTextureCreationJob(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                                     gfx::Format format, gfx::Pool pool, const void* pixels, uint32_t pixelBytes,
                                     bool takeOver, uint32_t jobFlags);
    ~VornexRendererTextureCreationJob() override;
    bool Execute(VornexRenderer& renderer) override;
    // After completion: the new handle (null on failure); the caller owns its reference.
    DeviceObjectHandle* TakeHandle();
    // Bytes of one row of level 0 (0: a format whose pixels are not copied).
    static uint32_t RowPitch(gfx::Format format, uint32_t width);

private:
    uint32_t width, height, levels, usage;
    gfx::Format format;
    gfx::Pool pool;
    DeviceObjectHandle* handle = nullptr;
    bool created = false;
};

// A 2D or cube texture from DDS file bytes, into the target handle (replacing what it
// held) or a new one. Always finishes in one pass.
class VornexRendererDDSTextureCreationJob : public VornexRendererResourceCreationJob {
public:
    VornexRendererDDSTextureCreationJob(const void* fileBytes, uint32_t size, bool takeOver, gfx::Pool pool,
                                        DeviceObjectHandle* target, uint32_t jobFlags);
    ~VornexRendererDDSTextureCreationJob() override;
    bool Execute(VornexRenderer& renderer) override;
    // After completion: the handle holding the texture (the target, a new one, or null).
    // A new handle belongs to the caller once taken; an untaken new one is handed to a
    // deletion job by the destructor.
    DeviceObjectHandle* Handle() const { return handle; }
    DeviceObjectHandle* TakeHandle();

private:
    gfx::Pool pool;
    DeviceObjectHandle* target;
    DeviceObjectHandle* handle = nullptr;
};

// First pass creates the buffer; with data the next pass fills it.
class VornexRendererVertexBufferCreationJob : public VornexRendererResourceCreationJob {
public:
    VornexRendererVertexBufferCreationJob(uint32_t size, uint32_t usage, uint32_t fvf, gfx::Pool pool,
                                          const void* data, bool takeOver, uint32_t jobFlags);
    ~VornexRendererVertexBufferCreationJob() override;
    bool Execute(VornexRenderer& renderer) override;
    // After completion; the caller owns the reference once taken.
    gfx::VertexBuffer* TakeBuffer();

private:
    uint32_t size, usage, fvf;
    gfx::Pool pool;
    gfx::VertexBuffer* buffer = nullptr;
};

class VornexRendererIndexBufferCreationJob : public VornexRendererResourceCreationJob {
public:
    VornexRendererIndexBufferCreationJob(uint32_t size, uint32_t usage, gfx::Format format, gfx::Pool pool,
                                         const void* data, bool takeOver, uint32_t jobFlags);
    ~VornexRendererIndexBufferCreationJob() override;
    bool Execute(VornexRenderer& renderer) override;
    gfx::IndexBuffer* TakeBuffer();

private:
    uint32_t size, usage;
    gfx::Format format;
    gfx::Pool pool;
    gfx::IndexBuffer* buffer = nullptr;
};

// The renderer's shared declaration of an element list (count includes the end
// marker); a list that starts with the end marker creates nothing.
class VornexRendererVertexDeclarationCreationJob : public VornexRendererResourceCreationJob {
public:
    VornexRendererVertexDeclarationCreationJob(const gfx::VertexElement* elements, uint32_t count,
                                               uint32_t jobFlags);
    ~VornexRendererVertexDeclarationCreationJob() override;
    bool Execute(VornexRenderer& renderer) override;
    gfx::VertexDeclaration* TakeDeclaration();

private:
    gfx::VertexDeclaration* declaration = nullptr;
};

// Base of the read-back jobs: the block they fill (EngineAlloc), freed with the job
// unless taken.
class VornexRendererBufferSerializationJob : public VornexRendererResourceAccessJob {
public:
    explicit VornexRendererBufferSerializationJob(uint32_t jobFlags);
    ~VornexRendererBufferSerializationJob() override;
    uint32_t GetCost() const override { return 0; }
    // After completion: the block (null when nothing was read) and its size.
    void* TakeBlock(uint32_t* size);

protected:
    uint8_t* block = nullptr;
    uint32_t blockSize = 0;
};

class VornexRendererVertexBufferSerializationJob : public VornexRendererBufferSerializationJob {
public:
    VornexRendererVertexBufferSerializationJob(gfx::VertexBuffer* buffer, uint32_t jobFlags);
    ~VornexRendererVertexBufferSerializationJob() override { WaitBeforeDestruction(); }
    bool Execute(VornexRenderer& renderer) override;

private:
    gfx::VertexBuffer* buffer;
};

class VornexRendererIndexBufferSerializationJob : public VornexRendererBufferSerializationJob {
public:
    VornexRendererIndexBufferSerializationJob(gfx::IndexBuffer* buffer, uint32_t jobFlags);
    ~VornexRendererIndexBufferSerializationJob() override { WaitBeforeDestruction(); }
    bool Execute(VornexRenderer& renderer) override;

private:
    gfx::IndexBuffer* buffer;
};

// Reads the elements (8 bytes each, end marker included) into the block.
class VornexRendererVertexDeclarationSerializationJob : public VornexRendererBufferSerializationJob {
public:
    VornexRendererVertexDeclarationSerializationJob(gfx::VertexDeclaration* declaration, uint32_t jobFlags);
    ~VornexRendererVertexDeclarationSerializationJob() override { WaitBeforeDestruction(); }
    bool Execute(VornexRenderer& renderer) override;

private:
    gfx::VertexDeclaration* declaration;
};
