#pragma once
// ZKRPathRendererEntityRenderingContext: the render-thread side of a path renderer. It
// turns the route points into one instance record per segment (PathInstanceRecords.h)
// and draws every segment with one instanced draw of the shared quad, animating the
// signal that runs along the route ahead of the squad.
//
// Life: made on the main thread by the entity with a copy of its points, which a command
// 47 record (update operation 0) takes to the render thread; operation 0 builds the
// instance buffer and frees the copy. Squad updates travel as operation 1. The context
// owns the copy until operation 0 takes it; if it goes first (released before the build
// ran), its destructor frees the copy. Everything after construction runs on the render
// thread; the main thread only posts.
#include <cstdint>

#include "core/math/BoundingBox4.h"
#include "core/math/Vector.h"
#include "render/scene/EntityRenderingContext.h"

class CommandRingBuffer;
class DeviceObjectHandle;
class Resource;
class ResourceShader;
class ZKRPathRendererTemplate;
namespace gfx {
class VertexBuffer;
class VertexDeclaration;
}  // namespace gfx

// Vertex registers of the draw: the ribbon constant, then the box minimum and maximum.
constexpr uint32_t kPathRibbonRegister = 128;
constexpr uint32_t kPathBoxMinRegister = 129;
constexpr uint32_t kPathBoxMaxRegister = 130;
// Pixel register of the signal colour.
constexpr uint32_t kPathSignalColorRegister = 0;
// Signal position of a hidden signal, in the shader's length units.
constexpr float kPathSignalHidden = 1000000.0f;
// The slowest signal a template may ask for, in units a second.
constexpr float kPathMinSignalVelocity = 0.0001f;
// Depth bias per unit of the template's depth offset.
constexpr float kPathDepthBiasScale = -0.0001f;

class ZKRPathRendererEntityRenderingContext : public EntityRenderingContext {
public:
    // Main thread: takes the look of the tactical or battlefield set (with references of
    // its own), copies the count points and posts operation 0 with the copy.
    ZKRPathRendererEntityRenderingContext(const EntityRenderingContextSetup& setup, const ZKRPathRendererTemplate& t,
                                          uint32_t count, const Vector* points, float squadDistance,
                                          float squadRawDistance, bool battlefield);
    // Render thread: drops the references and the device objects (and a copy no build took).
    ~ZKRPathRendererEntityRenderingContext() override;

    // Main thread: posts operation 1 with the two distances.
    void PostSquadUpdate(float squadDistance, float squadRawDistance);

    // Render thread.
    void Draw(void* task, const Matrix& world, const RenderTaskArguments& arguments) override;
    // Builds the instance buffer from the copy and frees it (operation 0).
    void BuildVertexData();
    // Stores the distances and the squad term of the ribbon constant (operation 1).
    void SetSquadDistances(float distance, float rawDistance);
    // The executor of operations 0 and 1.
    static void Execute(uint32_t op, CommandRingBuffer& r);

    // ---- Render thread: state (tests) ----
    const float* RibbonConstant() const { return ribbon; }
    const BoundingBox4& QuantisationBox() const { return box; }
    float RouteLength() const { return routeLength; }
    uint32_t SegmentCount() const { return segments; }
    gfx::VertexBuffer* InstanceBuffer() const { return instances; }
    float SignalVelocity() const { return signalVelocity; }
    float SignalTimeout() const { return signalTimeout; }
    float DepthBias() const { return depthBias; }
    uint32_t BlendMode() const { return blendMode; }
    float SquadDistance() const { return squadDistance; }
    float SquadRawDistance() const { return squadRawDistance; }
    bool HoldsPointCopy() const { return pointCopy != nullptr; }

private:
    // The signal position for the draw at `now` (counter ticks); restarts the run when
    // its time is up.
    float SignalPosition(int64_t now);

    Resource* texture = nullptr;
    DeviceObjectHandle* textureHandle = nullptr;  // render-side reference, when loaded
    ResourceShader* vertexShader = nullptr;
    ResourceShader* pixelShader = nullptr;
    // width, mapping factor, squad distance x 2.5 / 32767, signal position.
    float ribbon[4] = {0, 0, 0, 0};
    Vector colour{1, 1, 1, 1};
    Vector signalColour{1, 1, 1, 1};
    float signalTimeout = 0.0f;
    float signalVelocity = kPathMinSignalVelocity;
    uint32_t blendMode = 1;
    float level = 0.0f;
    float depthBias = 0.0f;
    float squadDistance = 0.0f;
    float squadRawDistance = 0.0f;
    int64_t signalStart = 0;  // counter ticks
    BoundingBox4 box = BoundingBox4::INVALID;
    float routeLength = 0.0f;
    uint32_t segments = 0;
    gfx::VertexBuffer* instances = nullptr;
    gfx::VertexDeclaration* positionDeclaration = nullptr;
    gfx::VertexDeclaration* instancedDeclaration = nullptr;
    // The points on their way to the build; freed by it or by the destructor.
    Vector* pointCopy = nullptr;
    uint32_t pointCount = 0;
};
