#pragma once
// DebugPathList: two point lists drawn over the scene to show paths (the character
// controller's path when path debugging is on). The main thread hands points over in
// command-47 records; the render thread keeps them in two vertex buffers (each point with
// a white diffuse colour that the list's colour tints) and draws them once per frame:
//
//   op 0 (points, count)  the first list; frees the array; empties the second list
//   op 1 (points, count)  the second list; frees the array
//   op 2                  draws: the first list as 4-pixel white points, the second as
//                         7-pixel red points, depth tested (LESSEQUAL) without writes
//
// The arrays are 12-byte points allocated with new[] by the poster and freed by the
// render thread in every case. A list of 0 points has no buffer and draws nothing.
//
// Threads: the Post calls on the main thread; Execute and the buffers on the render
// thread. Destroy after the renderer has run PostRelease (or stopped).
#include <cstdint>

class CommandRingBuffer;
struct Vector;
namespace gfx {
class VertexBuffer;
}

class DebugPathList {
public:
    static constexpr float kFirstPointSize = 4.0f;
    static constexpr float kSecondPointSize = 7.0f;

    DebugPathList() = default;
    ~DebugPathList();
    DebugPathList(const DebugPathList&) = delete;
    DebugPathList& operator=(const DebugPathList&) = delete;

    // Main thread: the second list from x, y and z of each point (op 1).
    void SetPoints(const Vector* points, uint32_t count);
    void PostDraw();     // op 2
    void PostRelease();  // op 0 with no points, then a flush: both buffers go

    // Render thread.
    static void Execute(uint32_t op, CommandRingBuffer& r);
    uint32_t PointCount(uint32_t list) const { return list < 2 ? counts[list] : 0; }

private:
    void Replace(uint32_t list, const float* points, uint32_t count);
    void Draw();

    gfx::VertexBuffer* buffers[2] = {};
    uint32_t counts[2] = {};
};
