#pragma once
// UIPicture: a textured (or flat) rectangle. UIPictureAtlas: a picture that can draw many
// cells of one texture as ready-made quads.
//
// Main thread: the setters below hold the texture and shader resources (counted
// references) and post the picture family's ops (31-39; 40 for the atlas) carrying device
// objects, never names. Render thread: the ops fill the render fields; the draw either
// goes straight to the device through the shared unit quad (gathering channel < 0) or
// into the quad batch of its channel (0-3).
#include <cstdint>
#include <vector>

#include "ui/elements/UIElement.h"
#include "ui/elements/UIQuadBatch.h"

class DeviceObjectHandle;
class PixelShaderObject;
class Resource;
class ResourceShader;
class VertexShaderObject;

// Op numbers of the picture and atlas families.
enum : uint32_t {
    UIOP_PICTURE_AVATAR = 31,
    UIOP_PICTURE_TEXTURE = 32,
    UIOP_PICTURE_MAPPING = 33,
    UIOP_PICTURE_SHADERS = 34,
    UIOP_PICTURE_PARAMETER = 35,
    UIOP_PICTURE_CHANNEL = 36,
    UIOP_PICTURE_TEXSCALE = 37,
    UIOP_PICTURE_CORNERCOLOURS = 39,
    UIOP_ATLAS_DATA = 40,
};

// Render fields of a picture.
struct UIPictureRenderHalf {
    const DeviceObjectHandle* textures[2] = {};  // each holds one device-object reference
    uint32_t samplers[2] = {};
    const VertexShaderObject* vertexShader = nullptr;
    const PixelShaderObject* pixelShader = nullptr;
    Vector parameter;
    Vector texScale{1, 1, 1, 1};
    Vector texOffset;
    Vector corners[4] = {{1, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}};
    int32_t channel = -1;  // < 0: drawn at once; 0-3: the quad batch
    bool flushAfter = false;
};

class UIPicture : public UIElement {
public:
    UIPicture();

    bool IsUIPicture() const override { return true; }

    // ======== Main thread ========
    // index >= 2: nothing. Otherwise the slot's texture is replaced by the named one
    // (resolved, loaded in the background and marked); an unresolved name empties the
    // slot and posts nothing.
    void SetTexture(const char* name, uint32_t index, uint32_t samplerMode);
    // The avatar image of an online user into texture slot 0 (handle 0: back to the
    // slot's own texture).
    void SetSteamTexture(uint32_t index, int32_t imageHandle);
    void SetTextureTile(float column, float row, float columns, float rows, const Vector& scale,
                        const Vector& offset);
    void SetTextureMapping(float scaleU, float scaleV, float offsetU, float offsetV);
    // Logs "Unable to load shader %s with option string: %s" and posts nothing when
    // either shader or its device object is missing.
    void SetShader(const char* name, const char* options, uint32_t channel, uint8_t flushAfter);
    void SetRenderGatheringChannel(uint32_t channel);
    void SetPixelShaderParam(const Vector& value);
    void SetTextureScale(const Vector& scale);  // op 37
    void SetCornerColors(const Vector colours[4]);  // op 39 (recipes)

    void OnBeforeDelete() override;
    void OnTemporaryLoadingScreenMark(uint32_t mark) override;

    // Test hooks.
    Resource* TextureResource(uint32_t index) const { return index < 2 ? textures[index] : nullptr; }
    int32_t SteamImage() const { return steamImage; }

    // ======== Render thread ========
    static void HandlePictureOp(uint32_t op, UIElement* element, UIOpReader& payload);
    void Draw(const Matrix& world, const Vector& colour, bool mirrored, const UIFadeRecord* fade) override;
    const UIPictureRenderHalf& PictureRender() const { return pr; }

protected:
    ~UIPicture() override;
    void SetRenderTexture(uint32_t stage, const DeviceObjectHandle* texture, uint32_t sampler);
    // The batched draw's state on the picture's channel.
    UIQuadBatch& BatchState(const UIFadeRecord* fade);
    void DrawImmediate(const Matrix& world, const Vector& colour, bool mirrored, const UIFadeRecord* fade);

    UIPictureRenderHalf pr;

private:
    void ReleaseShaders();
    Resource* textures[2] = {};
    ResourceShader* shaders[2] = {};
    int32_t steamIndex = -1;
    int32_t steamImage = 0;
};

class UIPictureAtlas : public UIPicture {
public:
    // An atlas cell is one UI vertex of 13 floats: rectangle A (the vertex colour), position,
    // colour (the vertex parameter), size (the texture coordinate); four cells make a quad
    // that the batch draws as it is, moved by the element's matrix.
    using Cell = UIQuadVertex;
    enum : uint32_t { kCellPositions = 0, kCellSizes = 1, kCellColours = 2, kCellRectangles = 3 };
    // The number of floats per entry of each kind.
    static uint32_t EntryWidth(uint32_t kind);

    UIPictureAtlas();

    // ======== Main thread ========
    // Kind 0 positions (3 numbers), 1 sizes (2), 2 colours (4), 3 rectangles (4); the
    // numbers give (count / width) entries, repeated over the cells; an empty table posts
    // nothing.
    void SetAtlasData(uint32_t kind, uint32_t firstCell, uint32_t cellCount, const float* numbers, uint32_t count);

    // ======== Render thread ========
    static void HandleAtlasOp(uint32_t op, UIElement* element, UIOpReader& payload);
    void Draw(const Matrix& world, const Vector& colour, bool mirrored, const UIFadeRecord* fade) override;
    const std::vector<Cell>& Cells() const { return cells; }

private:
    std::vector<Cell> cells;
};

inline constexpr UIOpFamily kUIPictureFamily = MakeUIOpFamily<&UIPicture::HandlePictureOp>();
inline constexpr UIOpFamily kUIAtlasFamily = MakeUIOpFamily<&UIPictureAtlas::HandleAtlasOp>();
