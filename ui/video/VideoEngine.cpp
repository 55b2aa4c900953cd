// Video playback.
//
// Three threads share a video, and each owns its part:
//  - The main thread asks: Play, Stop, UpdateFrame and DrawFrame post the video ops 0-3
//    into the element op stream (target: the engine), and IsPlaying compares the play
//    count it keeps with the finished count the render thread keeps.
//  - The render thread owns the player (VideoPlayer.h): op 0 makes one and opens its
//    file through a StreamingFileReader (the loader thread fills it); op 3 parses the
//    headers once the file is open, runs the clock, decodes Theora frames and Vorbis
//    audio, and uploads a due frame as three L8 textures (Y, U, V); op 2 draws them
//    full screen, UIVideo draws them inside an element. A player that ends, fails or is
//    stopped is closed here and handed to the sound thread.
//  - The sound thread owns the voice: decoded PCM travels to it in job 1 (the buffer
//    changes hands with the job), jobs 2 feed the voice from a 1 MiB ring, job 3
//    destroys the voice and job 4 frees the player, after every earlier job. The only
//    values flowing back are the samples played, which drive the clock, and the bytes
//    submitted, which tell the render thread that all audio has been handed over.
#include "ui/video/VideoEngine.h"

#include <algorithm>
#include <cstring>

#include "core/Log.h"
#include "render/DeviceObjectHandle.h"
#include "render/VornexRenderer.h"
#include "render/shaders/ResourceShader.h"
#include "ui/elements/UIOpStream.h"
#include "ui/video/VideoPlayer.h"

VideoEngine* gVideoEngine = nullptr;
static_assert(VideoEngine::kPlaneSamplerFlags == (SAMPLER_CLAMP_U | SAMPLER_CLAMP_V));

namespace {

constexpr const char* kDefaultDirectory = "videos";

const UIOpFamily kVideoFamily = MakeUIOpFamily<&VideoEngine::HandleOp>();

// The stream carries the engine as its target pointer; it is never used as an element.
UIElement* AsTarget(VideoEngine* engine) { return reinterpret_cast<UIElement*>(engine); }

// Op 0's fixed part.
struct PlayHeader {
    uint32_t loop;
    float volume;
    uint32_t nameLength;
    uint32_t directoryLength;
};

}  // namespace

// ---------------------------------------------------------------------------------------
// Main thread

void VideoEngine::Init() {
    if (!shaders.Acquire("Video", "", 0)) gLog.Error(LogCategory::Resources, "Video: no \"Video\" shaders");
}

void VideoEngine::Close() {
    // Without the renderer the op runs here and now.
    Post(VIDEOOP_STOP);
    if (gVornexRenderer.IsRendererRunning()) gVornexRenderer.FlushCommands(true);
    shaders.Release();
}

void VideoEngine::Play(const char* name, const char* directory, bool flag, bool loop, float volume) {
    if (!name) name = "";
    if (!directory) directory = kDefaultDirectory;
    playCount.fetch_add(1, std::memory_order_acq_rel);
    playFlag = flag ? 1 : 0;
    const PlayHeader header{loop ? 1u : 0u, volume, uint32_t(std::strlen(name)), uint32_t(std::strlen(directory))};
    const UIOpPart parts[] = {{&header, sizeof header},
                              {name, header.nameLength + 1},
                              {directory, header.directoryLength + 1}};
    if (!PostUIOpParts(kVideoFamily, VIDEOOP_PLAY, AsTarget(this), parts, 3)) {
        gLog.Error(LogCategory::Resources, "Video error - can't post the play request for \"%s\"", name);
        finishedCount.fetch_add(1, std::memory_order_acq_rel);
    }
}

void VideoEngine::Stop() { Post(VIDEOOP_STOP); }
void VideoEngine::UpdateFrame() { Post(VIDEOOP_UPDATE); }
void VideoEngine::DrawFrame() { Post(VIDEOOP_DRAW); }

void VideoEngine::Post(uint32_t op, const void* payload, uint32_t bytes) {
    PostUIOp(kVideoFamily, op, AsTarget(this), payload, bytes);
}

// ---------------------------------------------------------------------------------------
// Render thread

void VideoEngine::HandleOp(uint32_t op, UIElement* target, UIOpReader& payload) {
    auto* engine = reinterpret_cast<VideoEngine*>(target);
    switch (op) {
    case VIDEOOP_PLAY: engine->RenderPlay(payload); break;
    case VIDEOOP_STOP: engine->RenderStop(); break;
    case VIDEOOP_DRAW: engine->RenderDraw(); break;
    case VIDEOOP_UPDATE: engine->RenderUpdate(); break;
    default: break;
    }
}

void VideoEngine::EndPlayer() {
    if (!player) return;
    player->CloseAndDelete();
    player = nullptr;
}

void VideoEngine::ReleaseTextures() {
    for (DeviceObjectHandle*& plane : planes) {
        if (plane) plane->Unref();
        plane = nullptr;
    }
}

void VideoEngine::RenderPlay(UIOpReader& payload) {
    // The current player is replaced.
    if (player) {
        finishedCount.fetch_add(1, std::memory_order_acq_rel);
        EndPlayer();
    }
    frameReady.store(0, std::memory_order_release);
    ReleaseTextures();

    PlayHeader header{};
    char name[kVideoMaxPathLength + 1];
    char directory[kVideoMaxPathLength + 1];
    bool ok = payload.ReadValue(header) && header.nameLength <= kVideoMaxPathLength &&
              header.directoryLength <= kVideoMaxPathLength &&
              payload.Left() == header.nameLength + header.directoryLength + 2 &&
              payload.Read(name, header.nameLength + 1) && payload.Read(directory, header.directoryLength + 1);
    if (ok) ok = name[header.nameLength] == 0 && directory[header.directoryLength] == 0;
    if (!ok) {
        // Nothing is cut: a name or folder that does not fit is refused.
        payload.Skip(payload.Left());
        gLog.Error(LogCategory::Resources, "Video error - name or directory longer than %u characters",
                   unsigned(kVideoMaxPathLength));
        finishedCount.fetch_add(1, std::memory_order_acq_rel);
        return;
    }
    player = new VideoPlayer;
    player->Open(name, directory, header.loop != 0, header.volume);
}

void VideoEngine::RenderStop() {
    if (player) {
        finishedCount.fetch_add(1, std::memory_order_acq_rel);
        EndPlayer();
    }
    frameReady.store(0, std::memory_order_release);
    ReleaseTextures();
}

void VideoEngine::RenderUpdate() {
    // 1. No player, or one that ended.
    if (!player) {
        frameReady.store(0, std::memory_order_release);
        ReleaseTextures();
        return;
    }
    if (!player->IsActive()) {
        RenderStop();
        return;
    }
    // 2. The file's open attempt, then the headers.
    if (!player->StreamOpenFinished()) return;
    if (!player->HeadersParsed()) {
        if (player->StreamFailed()) {
            gLog.Error(LogCategory::Resources, "Video error - can't open video file for streaming: %s", player->FileName());
            player->Close();
            return;
        }
        if (!player->ParseHeaders()) return;
    }
    // 3-5. The clock, the decoding and the end; 6. a due frame goes to the textures.
    if (player->Advance()) UploadFrame();
}

bool VideoEngine::UploadFrame() {
    yuv_buffer yuv{};
    if (!player->FrameOut(&yuv)) return false;
    uint32_t width[kPlaneCount], height[kPlaneCount], x[kPlaneCount], y[kPlaneCount];
    player->PlaneSizes(width, height, x, y);
    const unsigned char* data[kPlaneCount] = {yuv.y, yuv.u, yuv.v};
    const int stride[kPlaneCount] = {yuv.y_stride, yuv.uv_stride, yuv.uv_stride};
    for (uint32_t i = 0; i < kPlaneCount; ++i) {
        DeviceObjectHandle*& plane = planes[i];
        gfx::SurfaceDesc desc{};
        if (plane && plane->Texture2D()) plane->Texture2D()->GetLevelDesc(0, &desc);
        if (!plane || !plane->Texture2D() || desc.width != width[i] || desc.height != height[i]) {
            if (!plane) plane = new DeviceObjectHandle;
            if (!plane->CreateTexture(width[i], height[i], 1, 0, gfx::FMT_L8, gfx::POOL_MANAGED)) {
                ReleaseTextures();
                frameReady.store(0, std::memory_order_release);
                return false;
            }
        }
        gfx::LockedRect locked{};
        if (gfx::Failed(plane->Texture2D()->LockRect(0, &locked, nullptr, 0))) continue;
        for (uint32_t row = 0; row < height[i]; ++row) {
            const unsigned char* from = data[i] + ptrdiff_t(y[i] + row) * stride[i] + x[i];
            std::memcpy(static_cast<uint8_t*>(locked.bits) + ptrdiff_t(row) * locked.pitch, from, width[i]);
        }
        plane->Texture2D()->UnlockRect(0);
    }
    frameReady.store(1, std::memory_order_release);
    return true;
}

void VideoEngine::RenderDraw() {
    if (!HasFrame() || !planes[0]) return;
    VornexRenderer& r = gVornexRenderer;
    gfx::Device* device = r.Device();
    if (!device) return;
    if (!shaders.IsValid()) shaders.ResolveObjects();
    gfx::SurfaceDesc video{};
    planes[0]->Texture2D()->GetLevelDesc(0, &video);
    const float screenWidth = float(r.RenderWidth()), screenHeight = float(r.RenderHeight());
    if (screenWidth <= 0.0f || screenHeight <= 0.0f || video.width == 0 || video.height == 0) return;
    // The largest scale that shows the whole picture; the quad shrinks on the other axis.
    const float sx = screenWidth / float(video.width), sy = screenHeight / float(video.height);
    const float s = std::min(sx, sy);
    const float constants[8] = {1.0f, 1.0f, 0.5f / screenWidth, 0.5f / screenHeight, s / sx, s / sy, 0.0f, 0.0f};

    r.SetBlendMode(0);
    r.SetCullMode(gfx::CULL_NONE);
    r.SetDepthState(gfx::CMP_ALWAYS, 0, 0, 0);
    r.DisableStencil();
    r.SetAlphaTest(0, 0);
    const BuiltInMesh& quad = r.GetBuiltInMesh(MESH_FULLSCREEN_QUAD);
    device->SetFVF(gfx::FVF_XYZ | gfx::FVF_TEX1);
    device->SetStreamSource(0, quad.vertices, 0, 20);
    shaders.Bind();
    r.SetVertexShaderConstants(0, constants, 2);
    for (uint32_t i = 0; i < kPlaneCount; ++i) r.SetTexture(i, planes[i], kPlaneSamplerFlags);
    uint32_t srgb = 0;
    device->GetRenderState(gfx::RS_SRGBWRITEENABLE, &srgb);
    r.SetSRGBWriteState(0);
    r.DrawPrimitive(gfx::PT_TRIANGLEFAN, 0, 2);
    r.SetSRGBWriteState(uint8_t(srgb));
}
