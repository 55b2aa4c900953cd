#pragma once
// EntityRenderingContext: the render thread's copy of one drawable entity.
//
// The main thread builds a context from an EntityRenderingContextSetup and afterwards
// only posts render command 47 records to it (the Post* members and Release); the render
// thread applies them in stream order, keeps the context listed in the cells of the
// render-side scene grid that its world box covers, and draws it when the pass driver
// gathers it. Subclasses (meshes, in-game UI, particles, graphs, path renderers)
// override Draw and the hooks.
//
// Command 47 payload: the executor, the op number (at native size), the context, then
// the op's data:
//   0 refresh   1 another context's bucket (pointer, may be null)   2 destroy
//   3 world, inverse, visibility byte, local box; refresh   4 layer byte
//   5 u32 alignment mode, f32 weight   6 colour   7 local colour   8 byte: hidden = byte is 0
//   9 u32 bucket   10 f32 scale factor   11 f32 template float; other ops change nothing.
//
// Threads: the constructor and the Post* members on the main thread; everything else on
// the render thread. The owner pointer is carried, never dereferenced.
#include <cstdint>

#include "core/math/BoundingBox4.h"
#include "core/rtti/SafePointer.h"
#include "render/scene/RenderSceneGrid.h"

class CommandRingBuffer;

// What a context copies from its entity and template at creation.
struct EntityRenderingContextSetup {
    void* owner = nullptr;
    bool hasEntity = false;       // false: bucket 3 and a CrtRand seed
    uint32_t renderingClass = 0;  // 0..3
    uint32_t creationFlags = 0;   // bit 0: never listed in the scene grid
    float entityFloat = 0.0f;
    uint8_t entityByte = 0;
    uint8_t layer = 0;
    uint32_t alignmentMode = 0;  // 0 none
    float alignmentWeight = 0.0f;
    bool mirrored = false;
    bool hidden = false;       // the entity's flags & 0x400010
    Vector color{1, 1, 1, 1};  // the template's colour as a linear vector
    uint32_t randomId = 0;
    float templateFloat = 0.0f;
    BoundingBox4 localBox = BoundingBox4::ZERO4;
    Matrix world = Matrix::IDENTITY;
    uint8_t kindFlags = 0;         // ERC_KIND_* bits, set by the entity kinds
    uint32_t exclusionMask = 0;    // the entity's block-rendering mask
    uint8_t minimumQuality = 0;    // the lowest quality level the entity is drawn at
};

// What a draw is given besides its matrix: a colour vector of the scene parameters in
// force, the task's render flags, the pass number and the pass mode.
struct RenderTaskArguments {
    Vector vector{1, 1, 1, 1};
    uint32_t flags = 0;
    uint32_t pass = 0;
    uint32_t mode = 0;
};

enum : uint32_t {
    ERC_FLAG_NO_GRID = 1u << 0,
    ERC_PARAMETER_VECTORS = 10,
};
enum : uint8_t {
    ERC_KIND_SHADOW_CASTER = 2,  // drawn into the sun's shadow map
};

class EntityRenderingContext : public SafePointerRoot {
public:
    explicit EntityRenderingContext(const EntityRenderingContextSetup& setup);
    // Render thread: leaves every cell of its range.
    ~EntityRenderingContext() override;

    // ---- Virtual slots after SafePointerRoot's (destructor, ClearSafePointers, hook) ----
    // Main thread: posts op 2; the render thread destroys the context after every
    // earlier op. The context must not be used afterwards.
    virtual void Release();
    // Main thread: copies the newest box the render side published (world space); false
    // when none is new (the base publishes none).
    virtual bool FetchBoundingBox(BoundingBox4* box) { return false; }
    virtual void Destroy() { delete this; }
    // Render thread: draws depth only into the shadow map (task null; flags of the pass).
    virtual void DrawDepth(void* task, uint32_t flags) {}
    // Render thread: the outline category bits (2, 4, 8, 16) for these render flags.
    virtual uint32_t OutlineCategory(uint32_t renderFlags) const { return 0; }
    // Render thread: draws with the given matrix (empty here).
    virtual void Draw(void* task, const Matrix& world, const RenderTaskArguments& arguments) {}
    // Render thread: draws the pass kinds the renderer enables, each into its colour
    // channel, with the task's matrix; false when nothing drew (nothing here).
    virtual bool DrawPassMask(void* task, const Matrix& world) { return false; }
    // Render thread: after every refresh.
    virtual void OnRefreshed() {}

    // ---- Main thread: posters ----
    void PostRefresh();
    void PostRenderingParam(EntityRenderingContext* other);
    void PostTransform(const Matrix& world, const Matrix& inverse, uint8_t visibility, const BoundingBox4& box);
    void PostSetLayer(uint8_t layer);
    void PostSetAlignment(uint32_t mode, float weight);
    void PostSetColor(const Vector& color);
    void PostSetLocalColor(const Vector& color);
    void PostFlagRaised() { PostVisibleByte(0); }
    void PostFlagCleared() { PostVisibleByte(1); }
    void PostSetBucket(uint32_t bucket);
    void PostSetScale(float scale);
    void PostSetTemplateFloat(float value);

    // The command-47 executor (render thread): reads the context and the op's data.
    static void Execute(uint32_t op, CommandRingBuffer& r);

    // ---- Render thread ----
    void SetUITransform(const Matrix& world, bool flag);
    void SetSortKey(uint64_t key) { sortKey = key; }
    void Render(void* task, const RenderTaskArguments& arguments);
    // Re-lists the context in the cells its world box covers; then OnRefreshed.
    void Refresh();

    const Matrix& World() const { return world; }
    const Matrix& InverseWorld() const { return inverseWorld; }
    const BoundingBox4& LocalBox() const { return localBox; }
    const Vector& Parameter(uint32_t i) const { return parameters[i]; }
    uint32_t Bucket() const { return renderBucket; }
    uint32_t CreationFlags() const { return creationFlags; }
    uint32_t CreationValue() const { return creationValue; }
    uint8_t EntityByte() const { return entityByte; }
    uint8_t Layer() const { return layer; }
    uint32_t AlignmentMode() const { return alignmentMode; }
    float AlignmentWeight() const { return alignmentWeight; }
    bool Mirrored() const { return mirrored; }
    bool Hidden() const { return hidden; }
    uint8_t Visibility() const { return visibility; }
    const Vector& LocalColor() const { return localColor; }
    const Vector& Color() const { return color; }
    float Scale() const { return scale; }
    const RenderSceneCellRange& CellRange() const { return cellRange; }
    void* Owner() const { return owner; }
    uint32_t RandomSeed() const { return randomSeed; }
    uint32_t SortValue() const { return sortValue; }
    uint64_t SortKey() const { return sortKey; }
    float EntityFloat() const { return entityFloat; }
    float TemplateFloat() const { return templateFloat; }
    uint32_t LastDrawFrame() const { return lastDrawFrame; }
    uint8_t KindFlags() const { return kindFlags; }
    uint32_t ExclusionMask() const { return exclusionMask; }
    uint8_t MinimumQuality() const { return minimumQuality; }
    // Asks for the lines a pass's filters, box test and draw call read (the table pointer,
    // the pass stamp and filters, the world matrix and the local box, and the first 48
    // bytes past this class, where a drawable kind keeps what its draws read first), so
    // that a pass can request the next contexts' while it tests this one. A prefetch never
    // faults: a kind with fewer fields loses nothing.
    void PrefetchPassFields() const {
        const char* first = reinterpret_cast<const char*>(this);
        const char* last = reinterpret_cast<const char*>(&localBox + 1) - 1;
        for (const char* line = first; line <= last; line += 64) __builtin_prefetch(line);
        __builtin_prefetch(last);
        const char* kind = reinterpret_cast<const char*>(&lastDrawFrame + 1);
        __builtin_prefetch(kind);
        __builtin_prefetch(kind + 47);
    }
    // Marks the context met by the gathering pass `stamp`; false when it already was (a
    // context listed in several cells is drawn once per pass).
    bool MarkPass(uint32_t stamp) {
        if (passStamp == stamp) return false;
        passStamp = stamp;
        return true;
    }

    // Rendering class 0 -> 3, 1 -> 5, 2 -> 7, 3 -> 13, anything else 3.
    static uint32_t BucketForRenderingClass(uint32_t renderingClass);
    // The classes the entity kinds take: solid geometry first, then what blends over it
    // (particles, effects), whose draws leave depth writes off and must not come before a
    // solid draw that relies on the depth buffer (a solid mesh drawn after them would
    // write no depth and be painted over by whatever is drawn behind it next).
    static constexpr uint32_t kRenderingClassSolid = 0;
    static constexpr uint32_t kRenderingClassBlended = 1;

private:
    template <class... T>
    void Post(uint32_t op, const T&... data);
    void PostVisibleByte(uint8_t byte);
    // Removes the context from every cell of its range in the current grid build.
    void LeaveGrid();

    // What a pass's filters, box test and depth draw read lies together after the
    // virtual table pointer (the line a virtual call loads anyway): the filters, then the
    // world matrix and the local box.
    uint32_t passStamp = 0;
    uint32_t exclusionMask;
    uint8_t kindFlags;
    uint8_t minimumQuality;
    uint8_t layer;
    bool hidden;
    bool mirrored;
    Matrix world;
    BoundingBox4 localBox;
    Matrix inverseWorld;
    Vector parameters[ERC_PARAMETER_VECTORS];
    uint32_t renderBucket;
    uint32_t creationFlags;
    float entityFloat;
    uint32_t creationValue;  // (creation flags & 4) >> 1
    uint8_t entityByte;
    uint8_t visibility = 0;
    uint32_t alignmentMode;
    float alignmentWeight;
    Vector localColor{1, 1, 1, 1};
    Vector color;
    float scale = 1.0f;
    RenderSceneCellRange cellRange;
    uint32_t cellGeneration = 0;  // the grid build the range belongs to
    void* owner;
    uint32_t randomSeed;
    uint32_t sortValue = 0;
    uint64_t sortKey = 0;
    float templateFloat;
    uint32_t lastDrawFrame = 0;
};
