// Shader compilation and the compiled-shader cache: design note.
//
// Load (loader thread): the old shader object goes to the render thread for deletion, a
// new one is made; the cache is tried, and on a miss the family's source is compiled
// with the variant's options and the cache written. The code's constant table gives
// the vertex shader's engine-constant registers, and the code travels to the render
// thread as a call record of the resource-job queue, where the device shader is made
// and the code freed. Reload compiles only when the source or one of the files it
// included changed, keeping the object and replacing its device shader.
//
// The cache reader is bounded: every size is checked against the file, and anything
// that does not parse is a miss, so the variant is compiled again. The cached code is
// walked as the device will walk it (whole words, the stage's version token first, the
// end token inside the stored size) before it is accepted: a damaged entry is a miss
// with one line, never code that would send the device reading past its block. The cache is written
// through the file system's temporary-file-and-rename writer; a folder that cannot be
// written only means no cache.
#include "render/shaders/ResourceShader.h"

#include <cstring>

#include "core/BoundedReader.h"
#include "core/Log.h"
#include "core/Memory.h"
#include "core/fs/FileReader.h"
#include "core/fs/FileSystem.h"
#include "core/fs/WholeFile.h"
#include "core/math/Matrix.h"
#include "platform/gfx/ShaderCompiler.h"
#include "render/DeviceObjectHandle.h"
#include "render/VornexRenderer.h"
#include "render/shaders/ShaderDefinitions.h"
#include "render/shaders/ShaderManager.h"

namespace {

constexpr const char* kSourceFolder = "Common/Shaders";
constexpr const char* kCacheFolder = "Common/Shaders/Compiled";
constexpr const char* kSkinningBones = "64";
// Caps of what one file read may allocate: sources and included files, cache files.
constexpr uint32_t kMaxSourceBytes = 16u << 20;
constexpr uint32_t kMaxCacheBytes = 64u << 20;

constexpr const char* kConstantNames[VSC_COUNT] = {
    "ConstantColor",   "ModelViewProjMatrix", "ModelViewMatrix",  "ModelMatrix", "InvTModelMatrix",
    "InvTModelViewMatrix", "ControlPoints",   "LightmapUVMulAdd", "LightProbe",  "LightProbeGradient"};

// Why cached code cannot go to the device; null when it can. The device finds the end of
// the code by walking its tokens, so the walk must end inside the stored bytes.
const char* CachedCodeFault(const void* code, uint32_t bytes, uint32_t kind) {
    if (bytes % 4 != 0) return "its size is not a whole number of words";
    const auto* words = static_cast<const uint32_t*>(code);
    const uint32_t version = bytes >= 4 ? words[0] : 0;
    const bool vertex = version == gfx::kVertexShaderVersion30, pixel = version == gfx::kPixelShaderVersion30;
    if (kind == SHADER_KIND_VERTEX ? !vertex : kind == SHADER_KIND_PIXEL ? !pixel : !(vertex || pixel))
        return "it does not start with its stage's version token";
    if (gfx::ShaderCodeSize(words, bytes) == 0) return "it has no end token";
    return nullptr;
}

// Opens included files in "Common/Shaders" and records each one's name and time.
class ShaderIncludeHandler final : public gfx::IncludeHandler {
public:
    explicit ShaderIncludeHandler(ResourceShader& shader) : shader(shader) {}
    gfx::Result Open(gfx::IncludeType, const char* fileName, const void*, const void** data,
                     uint32_t* bytes) override {
        FileReader reader(fileName, nullptr, kSourceFolder);
        std::vector<char> text;
        if (!fs::ReadWholeFile(reader, kMaxSourceBytes, 1, &text)) return gfx::ERR_NOTFOUND;
        char* copy = static_cast<char*>(EngineAlloc(text.size()));
        if (!copy) return gfx::ERR_NOTFOUND;
        std::memcpy(copy, text.data(), text.size());
        shader.RecordInclude(fileName, reader.GetFileTime());
        *data = copy;
        *bytes = static_cast<uint32_t>(text.size() - 1);
        return gfx::OK;
    }
    gfx::Result Close(const void* data) override {
        EngineFree(const_cast<void*>(data));
        return gfx::OK;
    }

private:
    ResourceShader& shader;
};

// Logs each line of a compiler message text.
void LogCompilerLines(gfx::Blob* messages, bool failed) {
    if (!messages) return;
    const char* text = static_cast<const char*>(messages->GetBufferPointer());
    const uint32_t size = messages->GetBufferSize();
    const void* end = std::memchr(text, 0, size);
    const std::string all(text, end ? static_cast<const char*>(end) - text : size);
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\n', start);
        if (end == std::string::npos) end = all.size();
        if (end > start)
            gLog.Print(failed ? LogSeverity::Error : LogSeverity::Warning, LogCategory::Resources, "%s",
                       all.substr(start, end - start).c_str());
        start = end + 1;
    }
}

// The option macros of a variant, the skinning bone count, the stage's macro and the
// terminator; the options also as one space-separated line for the log. The stage macro
// lets one source keep the other stage's constants out of a stage's table (the pixel
// stage has 224 registers, the vertex stage's skinning palette alone takes 192).
void BuildMacros(const std::vector<std::string>& options, bool pixelStage, std::vector<gfx::ShaderMacro>* macros,
                 std::string* optionText) {
    for (const std::string& o : options) {
        macros->push_back({o.c_str(), nullptr});
        if (!optionText->empty()) *optionText += ' ';
        *optionText += o;
    }
    macros->push_back({"MAX_SHADER_SKINNING_BONES", kSkinningBones});
    macros->push_back({pixelStage ? "PIXEL_STAGE" : "VERTEX_STAGE", nullptr});
    macros->push_back({nullptr, nullptr});
}

// The compiler's outcome: its lines logged, and on success the code copied into engine
// memory (the caller owns it). False on failure.
bool TakeCompiledCode(gfx::Result result, gfx::Blob* blob, gfx::Blob* messages, const char* stage, const char* path,
                      void** code, uint32_t* codeSize) {
    const bool failed = !gfx::Succeeded(result) || !blob;
    if (failed) gLog.Error(LogCategory::Resources, "HLSL error while compiling %s shader %s", stage, path);
    else
        gLog.Print(LogSeverity::Progress, LogCategory::Resources, "Shader %s (%s) compiled successfully", path, stage);
    LogCompilerLines(messages, failed);
    if (messages) messages->Release();
    if (failed) {
        if (blob) blob->Release();
        return false;
    }
    const uint32_t bytes = blob->GetBufferSize();
    void* block = EngineAlloc(bytes);
    if (block) std::memcpy(block, blob->GetBufferPointer(), bytes);
    blob->Release();
    if (!block) return false;
    *code = block;
    *codeSize = bytes;
    return true;
}

}  // namespace

const char* VertexShaderConstantName(VertexShaderConstant c) { return c < VSC_COUNT ? kConstantNames[c] : ""; }

// ---------------------------------------------------------------------------------------
// Shader objects

void ShaderObject::CreateDeviceShader(void*& code, uint32_t size) {
    auto create = [](VornexRenderer&, uint32_t flag, CommandRingBuffer& ring) {
        ShaderObject* object = nullptr;
        void* block = nullptr;
        uint32_t bytes = 0;
        ring.ReadValue(object);
        ring.ReadValue(block);
        ring.ReadValue(bytes);
        if (flag == 0 && object && block) object->CreateOnRenderThread(static_cast<const uint32_t*>(block), bytes);
        EngineFree(block);
    };
    void* block = code;
    code = nullptr;
    if (!block || size == 0) {
        EngineFree(block);
        return;
    }
    CommandRingBuffer* ring = gVornexRenderer.BeginResourceCall(create, this, sizeof block + sizeof size);
    if (!ring) {
        EngineFree(block);
        return;
    }
    ring->WriteValue(block);
    ring->WriteValue(size);
    gVornexRenderer.EndResourceJobWrite();
}

void VertexShaderObject::CreateOnRenderThread(const uint32_t* code, uint32_t bytes) {
    SafeReleaseInterface(&shader);
    if (gfx::Device* device = gVornexRenderer.Device()) device->CreateVertexShader(code, bytes, &shader);
}

void VertexShaderObject::Destroy() {
    SafeReleaseInterface(&shader);
    delete this;
}

void PixelShaderObject::CreateOnRenderThread(const uint32_t* code, uint32_t bytes) {
    SafeReleaseInterface(&shader);
    if (gfx::Device* device = gVornexRenderer.Device()) device->CreatePixelShader(code, bytes, &shader);
}

void PixelShaderObject::Destroy() {
    SafeReleaseInterface(&shader);
    delete this;
}

void VertexShaderObject::BindConstants(const void* code, uint32_t size) {
    for (Register& r : registers) r = Register{};
    gfx::ConstantTable* table = nullptr;
    if (!gfx::Succeeded(gfx::GetShaderConstantTableSized(code, size, &table)) || !table) return;
    for (uint32_t i = 0; const gfx::ConstantDesc* c = table->GetConstantDesc(i); ++i) {
        if (c->registerSet != gfx::REGISTERSET_FLOAT4 || c->type != gfx::PARAMTYPE_FLOAT) continue;
        const char* name = c->name.c_str();
        if (name[0] == '$') ++name;
        auto is = [name](VertexShaderConstant k) { return std::strcmp(name, kConstantNames[k]) == 0; };
        const bool matrix = c->parameterClass == gfx::PARAMCLASS_MATRIX_ROWS ||
                            c->parameterClass == gfx::PARAMCLASS_MATRIX_COLUMNS;
        VertexShaderConstant found = VSC_COUNT;
        if (c->parameterClass == gfx::PARAMCLASS_VECTOR && c->registerCount == 1) {
            for (VertexShaderConstant k : {VSC_CONSTANT_COLOR, VSC_LIGHTMAP_UV_MUL_ADD})
                if (is(k)) found = k;
        } else if (c->parameterClass == gfx::PARAMCLASS_VECTOR) {
            for (VertexShaderConstant k : {VSC_CONTROL_POINTS, VSC_LIGHT_PROBE, VSC_LIGHT_PROBE_GRADIENT})
                if (is(k)) found = k;
        } else if (matrix && c->columns > 0 && c->elements == 1) {
            for (VertexShaderConstant k : {VSC_MODEL_VIEW_PROJ, VSC_MODEL_VIEW, VSC_MODEL, VSC_INV_T_MODEL,
                                           VSC_INV_T_MODEL_VIEW})
                if (is(k)) found = k;
        }
        // "BoneMatrices" needs no register: bones always start at c0.
        if (found != VSC_COUNT) registers[found] = Register{static_cast<int32_t>(c->registerIndex), c->registerCount};
    }
    table->Release();
}

void VertexShaderObject::Upload(VertexShaderConstant c, const Matrix& m) const {
    const Register& r = registers[c];
    if (r.index < 0) return;
    gVornexRenderer.SetVertexShaderConstants(static_cast<uint32_t>(r.index), &m.r[0].x, r.count < 4 ? r.count : 4);
}

void VertexShaderObject::SetCameraConstants() const {
    Upload(VSC_MODEL_VIEW_PROJ, gVornexRenderer.ViewProjectionMatrix());
    Upload(VSC_MODEL_VIEW, gVornexRenderer.ViewMatrix());
    Upload(VSC_MODEL, Matrix::IDENTITY);
}

void VertexShaderObject::SetModelMatrix(const Matrix& model, bool alreadyCombined) const {
    Matrix m;
    if (alreadyCombined) m = model;
    else m.Mul(gVornexRenderer.ViewProjectionMatrix(), model);  // model first, then view-projection
    Upload(VSC_MODEL_VIEW_PROJ, m);
    // The model-view product only for a shader that reads it or its inverse.
    const bool viewUsed = registers[VSC_MODEL_VIEW].index >= 0 || registers[VSC_INV_T_MODEL_VIEW].index >= 0;
    Matrix modelView;
    if (viewUsed) {
        modelView.Mul(gVornexRenderer.ViewMatrix(), model);
        Upload(VSC_MODEL_VIEW, modelView);
    }
    Upload(VSC_MODEL, model);
    if (registers[VSC_INV_T_MODEL].index >= 0) {
        Matrix inverse;
        inverse.Inverse(model);
        inverse.Transpose();
        Upload(VSC_INV_T_MODEL, inverse);
    }
    if (registers[VSC_INV_T_MODEL_VIEW].index >= 0) {
        Matrix inverse;
        inverse.Inverse(modelView);
        inverse.Transpose();
        Upload(VSC_INV_T_MODEL_VIEW, inverse);
    }
}

void VertexShaderObject::SetModelColor(const Vector& colour) const {
    const Register& r = registers[VSC_CONSTANT_COLOR];
    if (r.index < 0) return;
    const Vector c = colour * gVornexRenderer.ColorFactor();
    gVornexRenderer.SetVertexShaderConstants(static_cast<uint32_t>(r.index), &c.x, 1);
}

void VertexShaderObject::SetBoneMatrixConstants(const float* rows, uint32_t count) {
    if (!rows || count == 0) return;
    if (count > kMaxShaderSkinningBones) count = kMaxShaderSkinningBones;
    gVornexRenderer.SetVertexShaderConstants(0, rows, count * kBoneRegisters);
}

void VertexShaderObject::ResetBoneMatrixConstants(uint32_t count) {
    if (count > kMaxShaderSkinningBones) count = kMaxShaderSkinningBones;
    float rows[kMaxShaderSkinningBones * kBoneRegisters * 4] = {};
    for (uint32_t b = 0; b < count; ++b)
        for (uint32_t i = 0; i < kBoneRegisters; ++i) rows[(b * kBoneRegisters + i) * 4 + i] = 1.0f;
    if (count) gVornexRenderer.SetVertexShaderConstants(0, rows, count * kBoneRegisters);
}

// ---------------------------------------------------------------------------------------
// The resource

ResourceShader::ResourceShader(const char* name) : Resource(name), kind(SHADER_KIND_NONE) {
    const char* dot = name ? std::strrchr(name, '.') : nullptr;
    bool vertex = false;
    if (dot && ShaderStageOfExtension(dot + 1, &vertex)) kind = vertex ? SHADER_KIND_VERTEX : SHADER_KIND_PIXEL;
}

ResourceShader::~ResourceShader() {
    if (object) object->Release(false, false);
}

VertexShaderObject* ResourceShader::GetVertexShaderObject() const {
    return kind == SHADER_KIND_VERTEX ? static_cast<VertexShaderObject*>(object) : nullptr;
}

PixelShaderObject* ResourceShader::GetPixelShaderObject() const {
    return kind == SHADER_KIND_PIXEL ? static_cast<PixelShaderObject*>(object) : nullptr;
}

void ResourceShader::RecordInclude(const char* name, uint64_t time) {
    includeText += '|';
    includeText += name;
    includeTimes.push_back(time);
}

bool ResourceShader::LoadResource() {
    if (object) {
        object->Release(false, false);
        object = nullptr;
    }
    if (kind == SHADER_KIND_VERTEX) object = new VertexShaderObject(this);
    else if (kind == SHADER_KIND_PIXEL) object = new PixelShaderObject(this);
    void* code = nullptr;
    uint32_t codeSize = 0;
    if (!object || !TryCache(&code, &codeSize)) {
        if (Compile(nullptr, &code, &codeSize)) WriteCache(code, codeSize);
    }
    if (!code || !object) {
        EngineFree(code);
        if (object) object->Release(false, false);
        object = nullptr;
        size = 0;
        return false;
    }
    object->MarkDirty();
    UseCode(code, codeSize);
    return true;
}

void ResourceShader::UseCode(void*& code, uint32_t codeSize) {
    if (!object) object = kind == SHADER_KIND_VERTEX ? static_cast<ShaderObject*>(new VertexShaderObject(this))
                                                     : new PixelShaderObject(this);
    if (VertexShaderObject* v = GetVertexShaderObject()) v->BindConstants(code, codeSize);
    size = codeSize;
    object->CreateDeviceShader(code, codeSize);
}

bool ResourceShader::TryCache(void** code, uint32_t* codeSize) {
    FileReader reader(GetName(), nullptr, kCacheFolder);
    std::vector<char> bytes;
    if (!fs::ReadWholeFile(reader, kMaxCacheBytes, 1, &bytes)) return false;
    return ReadCache(bytes.data(), bytes.size() - 1, gShaderManager ? gShaderManager->GetDefinitionStamp() : 0, code,
                     codeSize);
}

bool ResourceShader::ReadCache(const void* bytes, size_t fileSize, uint64_t currentStamp, void** code,
                               uint32_t* codeSize) {
    BoundedReader in(bytes, fileSize);
    uint32_t magic = 0, version = 0, codeBytes = 0, textBytes = 0, count = 0;
    uint64_t fileStamp = 0, fileTime = 0;
    if (!in.ReadU32(magic) || !in.ReadU32(version) || !in.Read(&fileStamp, 8)) return false;
    if (currentStamp != 0 && (magic != kShaderCacheMagic || version != kShaderCacheVersion || fileStamp != currentStamp))
        return false;
    if (!in.Read(&fileTime, 8) || !in.ReadU32(codeBytes) || codeBytes == 0 || !in.CheckCount(codeBytes, 1)) return false;
    const uint8_t* codeAt = in.Position();
    in.Read(nullptr, codeBytes);
    if (!in.ReadU32(textBytes) || !in.CheckCount(textBytes, 1)) return false;
    std::string text(reinterpret_cast<const char*>(in.Position()), textBytes);
    in.Read(nullptr, textBytes);
    if (!in.ReadU32(count) || !in.CheckCount(count, 8)) return false;
    std::vector<uint64_t> times(count);
    if (count && !in.Read(times.data(), 8ull * count)) return false;
    void* block = EngineAlloc(codeBytes);
    if (!block) return false;
    std::memcpy(block, codeAt, codeBytes);  // word-aligned for the walk
    if (const char* fault = CachedCodeFault(block, codeBytes, kind)) {
        gLog.Warning(LogCategory::RenderDevice, "Compiled shader cache entry %s is damaged (%s); compiling it again",
                     GetName() ? GetName() : "", fault);
        EngineFree(block);
        return false;
    }
    definitionStamp = fileStamp;
    sourceTime = fileTime;
    includeText.swap(text);
    includeTimes.swap(times);
    *code = block;
    *codeSize = codeBytes;
    return true;
}

bool ResourceShader::Compile(const uint64_t* previousTime, void** code, uint32_t* codeSize) {
    *code = nullptr;
    *codeSize = 0;
    const char* name = GetName();
    const char* slash = name ? std::strchr(name, '/') : nullptr;
    const char* dot = name ? std::strrchr(name, '.') : nullptr;
    if (!slash || !dot || dot < slash || !gShaderManager) return false;
    const std::string family(name, slash);
    const char* stage = kind == SHADER_KIND_VERTEX ? "vertex" : "pixel";
    const char* profile = dot + 1;
    std::vector<std::string> options;
    if (!gShaderManager->LookupFamilyOptions(name, &options, false)) return false;
    // The stamp and the source time are kept for every attempt, not only for one that
    // made code: a variant whose source was missing, failed or has no entry for this
    // stage is then compiled again by a reload once its files change, instead of being
    // refused as made under other definitions.
    definitionStamp = gShaderManager->GetDefinitionStamp();

    std::vector<gfx::ShaderMacro> macros;
    std::string optionText;
    BuildMacros(options, kind == SHADER_KIND_PIXEL, &macros, &optionText);

    char path[fs::kMaxPath];
    FileSystem::ComposePath(path, sizeof path, family.c_str(), "hlsl", kSourceFolder);
    FileReader source(family.c_str(), "hlsl", kSourceFolder);
    if (!source.IsOpen()) {
        gLog.Error(LogCategory::RenderDevice, "Cannot load shader source %s", path);
        for (size_t i = 0; i < options.size(); ++i)
            gLog.Error(LogCategory::RenderDevice, "Option %02d: %s", static_cast<int>(i), options[i].c_str());
        return false;
    }
    const uint64_t time = source.GetFileTime();
    if (previousTime && *previousTime == time) return false;
    sourceTime = time;
    gLog.Print(LogSeverity::Progress, LogCategory::Resources, "Compiling shader %s (%s) with options '%s' to file %s",
               path, stage, optionText.c_str(), name);
    std::vector<char> text;
    if (!fs::ReadWholeFile(source, kMaxSourceBytes, 1, &text)) {
        gLog.Error(LogCategory::RenderDevice, "Cannot load shader source %s", path);
        return false;
    }
    if (kind != SHADER_KIND_VERTEX && kind != SHADER_KIND_PIXEL) {
        gLog.Error(LogCategory::Resources, "Cannot find option definition for shader %s", name);
        return false;
    }
    includeText.clear();
    includeTimes.clear();
    const std::string entryCall = std::string(stage) + "(";
    if (!std::strstr(text.data(), entryCall.c_str())) {
        gLog.Error(LogCategory::Resources, "Shader source %s has no %s entry function (%s) for %s", path, stage,
                   stage, name);
        return false;
    }

    ShaderIncludeHandler includes(*this);
    gfx::Blob* blob = nullptr;
    gfx::Blob* messages = nullptr;
    const gfx::Result r = gfx::CompileShader(text.data(), static_cast<uint32_t>(text.size() - 1), macros.data(),
                                             &includes, stage, profile, gfx::SHADER_FLAGS_NONE, &blob, &messages,
                                             nullptr);
    return TakeCompiledCode(r, blob, messages, stage, path, code, codeSize);
}

void ResourceShader::WriteCache(const void* code, uint32_t codeSize) {
    const char* name = GetName();
    const char* slash = name ? std::strchr(name, '/') : nullptr;
    if (!slash || !code) return;
    const std::string family(name, slash);
    gFileSystem.CreateDirectory(family.c_str(), kCacheFolder);
    FileWriter writer(name, nullptr, kCacheFolder);
    if (!writer.IsOpen()) return;
    const uint32_t header[2] = {kShaderCacheMagic, kShaderCacheVersion};
    const uint32_t textBytes = static_cast<uint32_t>(includeText.size());
    const uint32_t count = static_cast<uint32_t>(includeTimes.size());
    writer.Write(header, sizeof header);
    writer.Write(&definitionStamp, 8);
    writer.Write(&sourceTime, 8);
    writer.Write(&codeSize, 4);
    writer.Write(code, codeSize);
    writer.Write(&textBytes, 4);
    writer.Write(includeText.data(), textBytes);
    writer.Write(&count, 4);
    writer.Write(includeTimes.data(), 8 * count);
    writer.Close();
}

bool ResourceShader::IncludesCurrent() const {
    size_t at = 0;
    uint32_t i = 0;
    while (at < includeText.size()) {
        if (includeText[at] != '|') return false;
        size_t end = includeText.find('|', at + 1);
        if (end == std::string::npos) end = includeText.size();
        const std::string name = includeText.substr(at + 1, end - at - 1);
        if (i >= includeTimes.size()) return false;
        FileReader reader(name.c_str(), nullptr, kSourceFolder);
        if (!reader.IsOpen() || reader.GetFileTime() != includeTimes[i]) return false;
        ++i;
        at = end;
    }
    return i == includeTimes.size();
}

void ResourceShader::ReloadResource() {
    if (!gShaderManager || definitionStamp != gShaderManager->GetDefinitionStamp()) {
        gLog.Error(LogCategory::Resources,
                   "Cannot reload shader %s because definition file has changed. Please restart the application.",
                   GetName() ? GetName() : "");
        return;
    }
    const uint64_t previous = sourceTime;
    void* code = nullptr;
    uint32_t codeSize = 0;
    if (!Compile(IncludesCurrent() ? &previous : nullptr, &code, &codeSize)) return;
    WriteCache(code, codeSize);
    UseCode(code, codeSize);
}

Resource* ResourceShaderPool::CreateResource(const char* name, uint32_t) { return new ResourceShader(name); }
