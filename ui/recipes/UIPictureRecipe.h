#pragma once
// UIPictureRecipe: the recipe of a UIPicture (texture slots, clamping, shader, tiling,
// corner colours). It holds four loaded resources (texture 0, texture 1, vertex shader,
// pixel shader): looked up right after its property list is read, loaded by
// LoadResources, released when a name changes and when the recipe goes.
//
// Threads: the post-read lookup runs where the list is read (on the ResourceManager's
// thread it loads the textures and the shader there and then, never queueing behind
// itself); the rest on the main thread.
#include "ui/recipes/UIElementRecipe.h"

class Resource;

// Texture flag of every recipe texture; "Clamp U" and "Clamp V" add 2 and 4.
constexpr uint32_t kUIRecipeTextureFlags = 1;
constexpr uint32_t kUIRecipeClampU = 2;
constexpr uint32_t kUIRecipeClampV = 4;

class UIPictureRecipe : public UIElementRecipe {
public:
    enum : uint32_t { kTexture0 = 0, kTexture1 = 1, kVertexShader = 2, kPixelShader = 3, kHeldResources = 4 };

    UIPictureRecipe() = default;
    ~UIPictureRecipe() override;

    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    // The post-read lookup (only when "Disabled" is 0): the textures are requested from
    // the resource manager (and loaded at once on its thread), the shader looked up (and
    // waited for on that thread, elsewhere unless option 4 is set).
    void OnLoaded(uint32_t options) override;

    const char* GetClassName() const override { return "UIPictureRecipe"; }
    void LoadResources() override;
    void SetResourceFlags(uint32_t resourceFlags) override;
    const char* GetElementClassName() const override { return "UIPicture"; }
    void Apply(UIElement* element) const override;
    UIElement* CreateElement() const override;
    UIElementRecipe* CreateDefault() const override { return new UIPictureRecipe(); }

    // Getters and setters of the name properties: the texture setters release the slot's
    // loaded texture first; the shader setter releases both shaders and keeps the name
    // without its extension (from the last '.'), at most 259 characters.
    NameString GetTexture() const { return texture[0]; }
    void SetTexture(const NameString& value);
    NameString GetTexture2() const { return texture[1]; }
    void SetTexture2(const NameString& value);
    NameString GetShader() const { return shader; }
    void SetShader(const NameString& value);

    Resource* HeldResource(uint32_t i) const { return i < kHeldResources ? held[i] : nullptr; }

    // ---- Stored values ----
    NameString texture[2];
    bool clampU = true;
    bool clampV = true;
    NameString shader{"iPhoneUI"};
    uint32_t tileIndexX = 0;
    uint32_t tileIndexY = 0;
    uint32_t tileCountX = 1;
    uint32_t tileCountY = 1;
    float mappingScaleX = 1.0f;
    float mappingScaleY = 1.0f;
    float mappingOffsetX = 0.0f;
    float mappingOffsetY = 0.0f;
    int32_t renderGatheringChannel = 0;
    HDRColor cornerColor[4] = {{255, 255, 255, 255, 1.0f},
                               {255, 255, 255, 255, 1.0f},
                               {255, 255, 255, 255, 1.0f},
                               {255, 255, 255, 255, 1.0f}};

protected:
    // The picture steps of Apply on a picture element.
    void ApplyPicture(UIElement* element) const;

private:
    void ReleaseHeld(uint32_t first, uint32_t count);
    Resource* held[kHeldResources] = {};
};
