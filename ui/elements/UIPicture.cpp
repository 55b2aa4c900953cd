// UIPicture and UIPictureAtlas: the main-thread setters, the picture family's ops and
// the draws.
//
// Texture references: the main thread holds the texture resource (a counted use) and
// posts its device-object handle; the render side takes a reference of its own on the
// handle (op 32) and drops it when the stage changes or the picture is freed, so a handle
// outlives neither user.
#include "ui/elements/UIPicture.h"

#include <algorithm>
#include <cstring>

#include "core/Log.h"
#include "core/Memory.h"
#include "platform/gfx/GfxDevice.h"
#include "platform/online/Online.h"
#include "render/DeviceObjectHandle.h"
#include "render/VornexRenderer.h"
#include "render/resources/ResourceManager.h"
#include "render/resources/ResourceTexture.h"
#include "render/shaders/ResourceShader.h"
#include "render/shaders/ShaderManager.h"

namespace {

// The system textures an avatar image is copied into (selector 0 and non-zero).
constexpr uint32_t kAvatarTextures[2] = {3, 4};
constexpr uint32_t kMaxChannel = UIQuadBatch::kChannels - 1;

const DeviceObjectHandle* HandleOf(Resource* texture) {
    return texture ? static_cast<ResourceTexture*>(texture)->Handle() : nullptr;
}

}  // namespace

UIPicture::UIPicture() { SetLuaClass("UIPicture"); }

UIPicture::~UIPicture() {
    for (uint32_t s = 0; s < 2; ++s) SetRenderTexture(s, nullptr, 0);
}

// ---- Main thread ----

void UIPicture::SetTexture(const char* name, uint32_t index, uint32_t samplerMode) {
    if (index >= 2) return;
    if (textures[index]) textures[index]->Release();
    textures[index] = nullptr;
    steamIndex = -1, steamImage = 0;
    Resource* texture = gResourceManager.GetResource(RESOURCE_TEXTURE, name, 0, true, 0);
    if (!texture) return;
    if (!texture->IsLoaded()) texture->Load(true);
    const DeviceObjectHandle* handle = HandleOf(texture);
    if (!handle) {
        texture->Release();  // does not resolve: the slot stays empty
        return;
    }
    textures[index] = texture;
    PostUIOpValues(kUIPictureFamily, UIOP_PICTURE_TEXTURE, this, index, handle, samplerMode);
}

void UIPicture::SetSteamTexture(uint32_t index, int32_t imageHandle) {
    if (imageHandle == steamImage && int32_t(index) == steamIndex) return;
    steamIndex = int32_t(index);
    uint32_t width = 0, height = 0;
    online::OnlineUtils* utils = imageHandle > 0 ? SteamUtils() : nullptr;
    if (utils && utils->GetImageSize(imageHandle, &width, &height) && width > 0 && height > 0) {
        const uint64_t bytes = uint64_t(width) * height * 4;
        if (bytes > 0x7FFFFFFF) return;
        uint8_t* pixels = static_cast<uint8_t*>(EngineAlloc(size_t(bytes)));
        if (!pixels) return;
        if (!utils->GetImageRGBA(imageHandle, pixels, int(bytes))) {
            EngineFree(pixels);  // the picture stays as it was
            return;
        }
        // The render side owns the block from here (op 31 frees it).
        if (!PostUIOpValues(kUIPictureFamily, UIOP_PICTURE_AVATAR, this, index, width, height, pixels))
            EngineFree(pixels);
        steamImage = imageHandle;
        return;
    }
    steamImage = 0;
    if (const DeviceObjectHandle* own = HandleOf(textures[0])) {
        const uint32_t stage = 0, mode = kUISamplerClampSRGB;
        PostUIOpValues(kUIPictureFamily, UIOP_PICTURE_TEXTURE, this, stage, own, mode);
    }
}

void UIPicture::SetTextureTile(float column, float row, float columns, float rows, const Vector& scale,
                               const Vector& offset) {
    const Vector uvScale = scale * Vector(1.0f / columns, 1.0f / rows, 1, 1);
    const Vector uvOffset = scale * Vector(column / columns, row / rows, 0, 0) + offset;
    PostUIOpValues(kUIPictureFamily, UIOP_PICTURE_MAPPING, this, uvScale, uvOffset);
}

void UIPicture::SetTextureMapping(float scaleU, float scaleV, float offsetU, float offsetV) {
    PostUIOpValues(kUIPictureFamily, UIOP_PICTURE_MAPPING, this, Vector(scaleU, scaleV, 1, 1),
                   Vector(offsetU, offsetV, 0, 0));
}

void UIPicture::ReleaseShaders() {
    Resource* both[2] = {shaders[0], shaders[1]};
    ReleaseResources(both, 2);
    shaders[0] = shaders[1] = nullptr;
}

void UIPicture::SetShader(const char* name, const char* options, uint32_t channel, uint8_t flushAfter) {
    ReleaseShaders();
    ResourceShader* vs = nullptr;
    ResourceShader* ps = nullptr;
    if (gShaderManager) gShaderManager->GetShader(name, options, &vs, &ps, SHADER_LOAD_HERE, true, 0);
    const VertexShaderObject* vo = vs ? vs->GetVertexShaderObject() : nullptr;
    const PixelShaderObject* po = ps ? ps->GetPixelShaderObject() : nullptr;
    if (!vo || !po) {
        Resource* both[2] = {vs, ps};
        ReleaseResources(both, 2);
        gLog.Error(LogCategory::Engine, "Unable to load shader %s with option string: %s", name ? name : "",
                   options ? options : "");
        return;
    }
    shaders[0] = vs, shaders[1] = ps;
    PostUIOpValues(kUIPictureFamily, UIOP_PICTURE_SHADERS, this, vo, po, channel, flushAfter);
}

void UIPicture::SetRenderGatheringChannel(uint32_t channel) {
    PostUIOpValues(kUIPictureFamily, UIOP_PICTURE_CHANNEL, this, channel);
}

void UIPicture::SetPixelShaderParam(const Vector& value) {
    PostUIOpValues(kUIPictureFamily, UIOP_PICTURE_PARAMETER, this, value);
}

void UIPicture::SetTextureScale(const Vector& scale) {
    PostUIOpValues(kUIPictureFamily, UIOP_PICTURE_TEXSCALE, this, scale);
}

void UIPicture::SetCornerColors(const Vector colours[4]) {
    PostUIOp(kUIPictureFamily, UIOP_PICTURE_CORNERCOLOURS, this, colours, 4 * sizeof(Vector));
}

void UIPicture::OnBeforeDelete() {
    UIElement::OnBeforeDelete();
    Resource* both[2] = {textures[0], textures[1]};
    ReleaseResources(both, 2);
    textures[0] = textures[1] = nullptr;
    ReleaseShaders();
    steamIndex = -1, steamImage = 0;
}

void UIPicture::OnTemporaryLoadingScreenMark(uint32_t mark) {
    for (Resource* r : textures)
        if (r) r->AddFlags(mark);
    for (Resource* r : shaders)
        if (r) r->AddFlags(mark);
}

// ---- Render thread ----

void UIPicture::SetRenderTexture(uint32_t stage, const DeviceObjectHandle* texture, uint32_t sampler) {
    if (texture != pr.textures[stage]) {
        if (texture) const_cast<DeviceObjectHandle*>(texture)->AddRef();
        if (pr.textures[stage]) const_cast<DeviceObjectHandle*>(pr.textures[stage])->Unref();
        pr.textures[stage] = texture;
    }
    pr.samplers[stage] = sampler;
}

namespace {

// Op 31: the image into the avatar texture, red and blue swapped, when the locked pitch
// is exactly a row of the image and the rows fit; the block is freed either way.
const DeviceObjectHandle* CopyAvatar(uint32_t selector, uint32_t width, uint32_t rows, const uint8_t* pixels) {
    DeviceObjectHandle* avatar =
        gShaderManager ? gShaderManager->SystemTexture(kAvatarTextures[selector != 0 ? 1 : 0]) : nullptr;
    gfx::Texture* texture = avatar ? avatar->Texture2D() : nullptr;
    if (!texture || !pixels) return nullptr;
    gfx::SurfaceDesc desc{};
    if (texture->GetLevelDesc(0, &desc) != 0 || width > desc.width || rows > desc.height) return nullptr;
    gfx::LockedRect locked{};
    if (texture->LockRect(0, &locked, nullptr, 0) != 0) return nullptr;
    const bool fits = uint64_t(locked.pitch) == uint64_t(width) * 4;
    if (fits) {
        uint8_t* out = static_cast<uint8_t*>(locked.bits);
        for (uint64_t i = 0, n = uint64_t(width) * rows; i < n; ++i) {
            out[4 * i + 0] = pixels[4 * i + 2];
            out[4 * i + 1] = pixels[4 * i + 1];
            out[4 * i + 2] = pixels[4 * i + 0];
            out[4 * i + 3] = pixels[4 * i + 3];
        }
    }
    texture->UnlockRect(0);
    return fits ? avatar : nullptr;
}

}  // namespace

void UIPicture::HandlePictureOp(uint32_t op, UIElement* element, UIOpReader& payload) {
    UIPicture* p = static_cast<UIPicture*>(element);
    if (!p) {
        payload.Skip(payload.Left());
        return;
    }
    UIPictureRenderHalf& r = p->pr;
    switch (op) {
    case UIOP_PICTURE_AVATAR: {
        uint32_t selector = 0, width = 0, rows = 0;
        uint8_t* pixels = nullptr;
        if (payload.ReadValue(selector) && payload.ReadValue(width) && payload.ReadValue(rows) &&
            payload.ReadValue(pixels)) {
            if (const DeviceObjectHandle* avatar = CopyAvatar(selector, width, rows, pixels))
                p->SetRenderTexture(0, avatar, kUISamplerClampSRGB);
            EngineFree(pixels);
        }
        break;
    }
    case UIOP_PICTURE_TEXTURE: {
        uint32_t stage = 0, mode = 0;
        const DeviceObjectHandle* texture = nullptr;
        if (payload.ReadValue(stage) && payload.ReadValue(texture) && payload.ReadValue(mode) && stage < 2)
            p->SetRenderTexture(stage, texture, mode);
        break;
    }
    case UIOP_PICTURE_MAPPING:
        if (payload.ReadValue(r.texScale)) payload.ReadValue(r.texOffset);
        break;
    case UIOP_PICTURE_SHADERS: {
        uint32_t channel = 0;
        uint8_t flushAfter = 0;
        if (payload.ReadValue(r.vertexShader) && payload.ReadValue(r.pixelShader) && payload.ReadValue(channel) &&
            payload.ReadValue(flushAfter)) {
            r.channel = std::min(int32_t(channel), int32_t(kMaxChannel));
            r.flushAfter = flushAfter != 0;
        }
        break;
    }
    case UIOP_PICTURE_PARAMETER:
        payload.ReadValue(r.parameter);
        break;
    case UIOP_PICTURE_CHANNEL: {
        uint32_t channel = 0;
        if (payload.ReadValue(channel)) r.channel = int32_t(channel);
        break;
    }
    case UIOP_PICTURE_TEXSCALE:
        payload.ReadValue(r.texScale);
        break;
    case UIOP_PICTURE_CORNERCOLOURS:
        payload.ReadValue(r.corners);
        break;
    default:
        payload.Skip(payload.Left());
        break;
    }
}

UIQuadBatch& UIPicture::BatchState(const UIFadeRecord* fade) {
    UIQuadBatch& batch = GetUIQuadBatch(uint32_t(std::min(pr.channel, int32_t(kMaxChannel))));
    batch.SetState(Render().blendMode, pr.textures[0], pr.samplers[0], pr.textures[1], pr.samplers[1],
                   pr.vertexShader, pr.pixelShader, fade);
    return batch;
}

void UIPicture::DrawImmediate(const Matrix& world, const Vector& colour, bool mirrored, const UIFadeRecord* fade) {
    VornexRenderer& r = gVornexRenderer;
    gfx::Device* device = r.Device();
    if (!device) return;
    const UIElementRenderHalf& rs = Render();
    Matrix model, scale;
    scale.LoadScale(rs.size.x, rs.size.y, 1.0f);
    model.Mul(world, scale);  // the unit quad to the size, then the element
    const BuiltInMesh& quad = r.GetBuiltInMesh(MESH_UNIT_QUAD);
    r.SetTexture(0, pr.textures[0], kUISamplerClampSRGB);
    r.SetBlendMode(rs.blendMode);
    r.SetCullMode(mirrored != r.CameraMirrored() ? kUICullClockwise : kUICullCounterClockwise);
    r.SetDepthState((rs.flags & UIFLAG_DEPTHTEST) ? kUIDepthLessEqual : kUIDepthAlways, 0, 0, 0);
    r.SetVertexShader(pr.vertexShader ? pr.vertexShader->DeviceShader() : nullptr);
    r.SetPixelShader(pr.pixelShader ? pr.pixelShader->DeviceShader() : nullptr);
    r.SetVertexShaderConstants(kUITexScaleRegister, &pr.texScale.x, 1);
    r.SetVertexShaderConstants(kUITexOffsetRegister, &pr.texOffset.x, 1);
    r.SetPixelShaderConstants(kUIParameterPixelRegister, &pr.parameter.x, 1);
    if (pr.vertexShader) {
        pr.vertexShader->SetModelColor(colour);
        pr.vertexShader->SetModelMatrix(model, false);
    }
    const UIFadeRecord& f = fade ? *fade : kUINoFade;
    r.SetVertexShaderConstants(kUIFadeVertexRegister, &f.rows[0].x, 2);
    r.SetPixelShaderConstants(kUIFadePixelRegister, &f.band.x, 1);
    device->SetFVF(gfx::FVF_XYZ | gfx::FVF_TEX1);
    device->SetStreamSource(0, quad.vertices, 0, quad.stride);
    r.DrawPrimitive(gfx::PT_TRIANGLEFAN, 0, 2);
    device->SetStreamSource(0, nullptr, 0, 0);
}

void UIPicture::Draw(const Matrix& world, const Vector& colour, bool mirrored, const UIFadeRecord* fade) {
    if (pr.channel < 0) {
        if (!pr.textures[0]) DrawFlatQuad(world, colour, mirrored, fade);
        else DrawImmediate(world, colour, mirrored, fade);
        return;
    }
    UIQuadBatch& batch = BatchState(fade);
    const Vector colours[4] = {colour * pr.corners[0], colour * pr.corners[1], colour * pr.corners[2],
                               colour * pr.corners[3]};
    batch.AddQuad(UISizedMatrix(world, Render().size), colours, mirrored, pr.parameter, pr.texScale, pr.texOffset);
    if (pr.flushAfter) batch.Flush();
}

// ---- Atlas ----

UIPictureAtlas::UIPictureAtlas() { SetLuaClass("UIPictureAtlas"); }

uint32_t UIPictureAtlas::EntryWidth(uint32_t kind) {
    switch (kind) {
    case kCellPositions: return 3;
    case kCellSizes: return 2;
    default: return 4;
    }
}

void UIPictureAtlas::SetAtlasData(uint32_t kind, uint32_t firstCell, uint32_t cellCount, const float* numbers,
                                  uint32_t count) {
    const uint32_t width = EntryWidth(kind);
    const uint32_t entries = count / width;
    if (entries == 0 || !numbers) return;
    const uint32_t header[4] = {kind, firstCell, cellCount, entries};
    const UIOpPart parts[2] = {{header, sizeof header}, {numbers, entries * width * uint32_t(sizeof(float))}};
    PostUIOpParts(kUIAtlasFamily, UIOP_ATLAS_DATA, this, parts, 2);
}

void UIPictureAtlas::HandleAtlasOp(uint32_t op, UIElement* element, UIOpReader& payload) {
    UIPictureAtlas* a = static_cast<UIPictureAtlas*>(element);
    uint32_t h[4] = {};
    if (!a || op != UIOP_ATLAS_DATA || !payload.ReadValue(h)) {
        payload.Skip(payload.Left());
        return;
    }
    const uint32_t kind = h[0], first = h[1], count = h[2], entries = h[3];
    const uint32_t width = EntryWidth(kind);
    // Bounded by what the payload holds: a header that claims more than came is refused.
    if (entries == 0 || uint64_t(entries) * width * sizeof(float) != payload.Left() ||
        uint64_t(first) + count > (1u << 20)) {
        payload.Skip(payload.Left());
        return;
    }
    std::vector<float> source(size_t(entries) * width);
    payload.Read(source.data(), uint32_t(source.size() * sizeof(float)));
    if (a->cells.size() < size_t(first) + count) a->cells.resize(size_t(first) + count, Cell{});
    for (uint32_t i = 0; i < count; ++i) {
        Cell& c = a->cells[first + i];
        const float* e = &source[size_t(i % entries) * width];
        switch (kind) {
        case kCellPositions: std::memcpy(c.position, e, 3 * sizeof(float)); break;
        case kCellSizes: std::memcpy(c.uv, e, 2 * sizeof(float)); break;
        case kCellColours: std::memcpy(c.parameter, e, 4 * sizeof(float)); break;
        case kCellRectangles: std::memcpy(c.colour, e, 4 * sizeof(float)); break;
        default: break;
        }
    }
}

void UIPictureAtlas::Draw(const Matrix& world, const Vector& colour, bool mirrored, const UIFadeRecord* fade) {
    if (pr.channel < 0 || cells.size() < 4) {
        if (pr.channel < 0) UIPicture::Draw(world, colour, mirrored, fade);
        return;
    }
    UIQuadBatch& batch = BatchState(fade);
    batch.AddVertices(cells.data(), uint32_t(cells.size()), world);
    if (pr.flushAfter) batch.Flush();
}
