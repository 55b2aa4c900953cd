#pragma once
// ResourceShader (resource type 1): one vertex or pixel shader variant, named
// "<family>/<32 mask digits>.vs_3_0" or ".ps_3_0". A load first tries the compiled-shader
// cache under "Common/Shaders/Compiled" (the resource name as the path), and on a miss
// compiles "Common/Shaders/<family>.hlsl" with the variant's options as macros and
// writes the cache. The code becomes a device shader on the render thread (a call record
// of the renderer's resource-job queue), held by the resource's shader object.
//
// Cache file (little-endian): u32 magic 0xF3981BD6, u32 version 4, u64 definition stamp,
// u64 source time, u32 S + S code bytes, u32 T + T include text bytes ('|' before each
// name), u32 N + N u64 modification times of the included files.
//
// Threads: loads and reloads on the loader thread (or the caller's); the shader objects'
// device shaders and constant uploads on the render thread; objects are deleted there.
#include <cstdint>
#include <string>
#include <vector>

#include "render/VornexRendererObject.h"
#include "render/resources/Resource.h"
#include "render/resources/ResourcePool.h"

class Matrix;
struct Vector;
namespace gfx {
class PixelShader;
class VertexShader;
}

constexpr uint32_t kShaderCacheMagic = 0xF3981BD6u;
constexpr uint32_t kShaderCacheVersion = 5;
constexpr uint32_t kMaxShaderSkinningBones = 64;
constexpr uint32_t kBoneRegisters = 3;  // a skinning matrix is three rows at vertex c0 up

enum ShaderKind : uint32_t { SHADER_KIND_NONE = 0, SHADER_KIND_VERTEX = 1, SHADER_KIND_PIXEL = 2 };

class ResourceShader;

// Shared part of both shader objects: the owner, and the device shader's creation from a
// code block on the render thread.
class ShaderObject : public VornexRendererObject {
public:
    explicit ShaderObject(ResourceShader* owner) : owner(owner) {}
    ResourceShader* Owner() const { return owner; }
    // Takes the code block over (code is cleared) and posts its device-shader creation;
    // the block is freed on the render thread (or here when nothing could be posted).
    void CreateDeviceShader(void*& code, uint32_t size);

protected:
    // Render thread: releases any previous device shader and creates one from the code.
    virtual void CreateOnRenderThread(const uint32_t* code, uint32_t bytes) = 0;

private:
    ResourceShader* owner;
};

// The engine's per-object vertex constants, in the order of the object's fields.
enum VertexShaderConstant : uint32_t {
    VSC_CONSTANT_COLOR, VSC_MODEL_VIEW_PROJ, VSC_MODEL_VIEW, VSC_MODEL, VSC_INV_T_MODEL, VSC_INV_T_MODEL_VIEW,
    VSC_CONTROL_POINTS, VSC_LIGHTMAP_UV_MUL_ADD, VSC_LIGHT_PROBE, VSC_LIGHT_PROBE_GRADIENT, VSC_COUNT
};
const char* VertexShaderConstantName(VertexShaderConstant c);

class VertexShaderObject : public ShaderObject {
public:
    struct Register {
        int32_t index = -1;  // -1: the shader does not declare it
        uint32_t count = 0;
    };

    using ShaderObject::ShaderObject;
    void Destroy() override;

    // Reads the code's constant table and records the engine constants' registers.
    void BindConstants(const void* code, uint32_t size);
    const Register& ConstantRegister(VertexShaderConstant c) const { return registers[c]; }
    gfx::VertexShader* DeviceShader() const { return shader; }

    // Render thread; each upload only when the constant is declared.
    void SetCameraConstants() const;
    void SetModelMatrix(const Matrix& model, bool alreadyCombined) const;
    void SetModelColor(const Vector& colour) const;
    // count skinning matrices of three registers each (rows of 4 floats) at c0.
    static void SetBoneMatrixConstants(const float* rows, uint32_t count);
    static void ResetBoneMatrixConstants(uint32_t count);

protected:
    void CreateOnRenderThread(const uint32_t* code, uint32_t bytes) override;

private:
    void Upload(VertexShaderConstant c, const Matrix& m) const;

    gfx::VertexShader* shader = nullptr;
    Register registers[VSC_COUNT];
};

class PixelShaderObject : public ShaderObject {
public:
    using ShaderObject::ShaderObject;
    void Destroy() override;
    gfx::PixelShader* DeviceShader() const { return shader; }

protected:
    void CreateOnRenderThread(const uint32_t* code, uint32_t bytes) override;

private:
    gfx::PixelShader* shader = nullptr;
};

class ResourceShader : public Resource {
public:
    // The kind from the extension ("vs" 1, "ps" 2, case-insensitively; else 0).
    explicit ResourceShader(const char* name);
    // Hands the shader object to the render thread for deletion.
    ~ResourceShader() override;

    uint32_t GetResourceType() const override { return RESOURCE_SHADER; }
    bool LoadResource() override;
    void ReloadResource() override;

    uint32_t Kind() const { return kind; }
    VertexShaderObject* GetVertexShaderObject() const;
    PixelShaderObject* GetPixelShaderObject() const;
    uint64_t DefinitionStamp() const { return definitionStamp; }
    uint64_t SourceTime() const { return sourceTime; }
    const std::string& IncludeText() const { return includeText; }
    const std::vector<uint64_t>& IncludeTimes() const { return includeTimes; }

    // Parses a cache file's bytes: false (a miss) for a wrong magic, version or stamp
    // while the current stamp is not 0, or for any size running past the end. On a hit
    // the code is returned in *code (engine allocator) and the record fields are set.
    bool ReadCache(const void* bytes, size_t size, uint64_t currentStamp, void** code, uint32_t* codeSize);

    // Called by the include handler while compiling.
    void RecordInclude(const char* name, uint64_t time);

private:
    bool TryCache(void** code, uint32_t* codeSize);
    // No code when nothing needed compiling (previousTime equals the source's time) or
    // anything failed; the messages are logged here.
    bool Compile(const uint64_t* previousTime, void** code, uint32_t* codeSize);
    void WriteCache(const void* code, uint32_t codeSize);
    bool IncludesCurrent() const;
    // Binds the constants (vertex) and hands the code to the device-shader creation.
    void UseCode(void*& code, uint32_t codeSize);

    uint32_t kind;
    uint64_t definitionStamp = 0;
    uint64_t sourceTime = 0;
    ShaderObject* object = nullptr;
    std::string includeText;
    std::vector<uint64_t> includeTimes;
};

class ResourceShaderPool : public ResourcePool {
public:
    Resource* CreateResource(const char* name, uint32_t parameter) override;
};
