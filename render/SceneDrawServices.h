#pragma once
// SceneDrawServices: what render tasks need of the scene content drawn by the render
// thread (particle systems, effect contexts, meshes), behind one small interface. The
// scene library installs its implementation from its start-up row, before the renderer
// starts; until then (and after SetSceneDrawServices(nullptr)) the base class draws and
// advances nothing.
//
// Threads: installed on the main thread while the render thread does not run; every
// method is called on the render thread except InitParticleGlobals (device creation).
#include <cstdint>

struct BoundingBox4;
class Matrix;
class MeshTemplateRenderingData;
class ParticleSystemInstance;
struct Vector;

// One clock of the frame-parameter task: a tick count and the frame time in seconds.
struct RenderFrameClock {
    int64_t ticks;
    float frameTime;
};

class SceneDrawServices {
public:
    virtual ~SceneDrawServices() = default;

    // Advances every live particle system by the three frame times of the frame.
    virtual void UpdateParticleSystems(float engineTime, float gameTime, float gameplayTime) {}
    // Advances every live effect context with the three clocks of the frame (engine,
    // smooth game, smooth gameplay).
    virtual void UpdateEffects(const RenderFrameClock clocks[3]) {}
    // Draws one particle system (world matrix, bounding box, colour).
    virtual void DrawParticleSystem(ParticleSystemInstance* system, const Matrix& world, const BoundingBox4* box,
                                    const Vector& colour) {}
    // Allocates the shared particle arrays (device creation).
    virtual void InitParticleGlobals() {}
    // Draws one mesh (two matrices, the bounding box, colour, value, flag byte; records: the
    // recordCount 48-byte records of the debug task, read in place from the command stream
    // at 16-byte alignment, or null).
    virtual void DrawMesh(const MeshTemplateRenderingData* mesh, const Matrix& world, const Matrix& previous,
                          const BoundingBox4* box, const Vector& colour, uint32_t value, uint8_t flag, const float* records,
                          uint32_t recordCount) {}
    // The mesh draw batch of the deferred pre-pass: Begin empties the batch and turns
    // batching on for the pass number and mode ((2, 3) geometry, (4, 0) compose, (8, 1) the
    // third pass); Flush draws what was batched (given the pass flags) and turns it off.
    virtual void BeginMeshDrawBatch(uint32_t pass, uint32_t mode) {}
    virtual void FlushMeshDrawBatch(uint32_t passFlags) {}
    // Draws one mesh part with optional bone records (as above).
    virtual void DrawSkinnedMesh(const MeshTemplateRenderingData* mesh, const Matrix& world, const Vector& colour,
                                 const float* records, uint32_t recordCount) {}
};

SceneDrawServices& GetSceneDrawServices();
// Not owned; null restores the default.
void SetSceneDrawServices(SceneDrawServices* services);
