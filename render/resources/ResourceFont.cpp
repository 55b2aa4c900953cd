#include "render/resources/ResourceFont.h"

#include <atomic>
#include <cstring>
#include <memory>

#include "core/Log.h"
#include "core/Memory.h"
#include "core/fs/FileReader.h"
#include "render/DeviceObjectHandle.h"
#include "render/RenderJobs.h"
#include "render/VornexRenderer.h"
#include "render/resources/ResourceManager.h"

namespace {
constexpr const char* kFontDirectory = "Common/Fonts";
constexpr uint32_t kLanguageCount = 11;
constexpr uint32_t kCharacterSetBytes = 65536 / 8;

FontFileServices gDefaultFontFileServices;
std::atomic<FontFileServices*> gFontFileServices{&gDefaultFontFileServices};

// Decimal digits from p (saturating); p is left after them.
uint32_t ReadDecimal(const char*& p) {
    uint64_t value = 0;
    while (*p >= '0' && *p <= '9') {
        value = value * 10 + uint64_t(*p++ - '0');
        if (value > UINT32_MAX) value = UINT32_MAX;
    }
    return static_cast<uint32_t>(value);
}
}  // namespace

FontFileServices& GetFontFileServices() { return *gFontFileServices.load(); }

void SetFontFileServices(FontFileServices* services) {
    gFontFileServices.store(services ? services : &gDefaultFontFileServices);
}

ResourceFont::ResourceFont(const char* name) : Resource(name) {
    const char* n = GetName() ? GetName() : "";
    // The base ends at the first '~' or '#'; the size follows '~', the outline '#', in
    // either order.
    const size_t length = std::strcspn(n, "~#");
    if (length > kMaxFontBaseName) return;  // refused at load
    for (size_t i = 0; i < length; ++i)
        baseName[i] = (n[i] >= 'A' && n[i] <= 'Z') ? char(n[i] + ('a' - 'A')) : n[i];
    baseName[length] = 0;
    baseNameValid = true;
    const char* p = n + length;
    bool sizeRead = false, outlineRead = false;
    while (*p == '~' || *p == '#') {
        const char mark = *p++;
        if (mark == '~' && !sizeRead) {
            pointSize = ReadDecimal(p);
            sizeRead = true;
        } else if (mark == '#' && !outlineRead) {
            outlineSize = ReadDecimal(p);
            outlineRead = true;
        } else {
            break;
        }
    }
    outlined = outlineSize > 0;
}

ResourceFont::~ResourceFont() {
    DropPages();
    ReleaseBuffer(&glyphTables);
}

void ResourceFont::Clear() {
    DropPages();
    SetGlyphTables(nullptr, 0);
    texelBytes = 1;
}

void ResourceFont::AddPage(uint8_t* pixels, uint32_t height) { pages.push_back(Page{pixels, height}); }

void ResourceFont::SetGlyphTables(void* tables, uint32_t bytes) {
    EngineFree(glyphTables);
    glyphTables = tables;
    glyphTableBytes = tables ? bytes : 0;
}

void ResourceFont::DropPages() {
    for (Page& page : pages) EngineFree(page.pixels);
    pages.clear();
    for (DeviceObjectHandle* texture : pageTextures) SubmitTextureDeletionJob(texture, false);
    pageTextures.clear();
}

bool ResourceFont::LoadResource() {
    DropPages();
    if (!baseNameValid) {
        gLog.Error(LogCategory::Engine, "ResourceFont - the face name of %.64s... is longer than %u characters",
                   GetName() ? GetName() : "", kMaxFontBaseName);
        return false;
    }
    FontFileServices& files = GetFontFileServices();
    const bool binary = files.LoadBinFont(*this);
    if (!binary) {
        gLog.Print(LogSeverity::Progress, LogCategory::Engine,
                   "Unable to load binary font file. Reading the source TTF (%s)", GetName() ? GetName() : "");
        ReadSourceFont();
    }
    if (pages.empty() || !CreatePageTextures()) return false;
    if (!binary) files.SaveBinFont(*this);
    return true;
}

void ResourceFont::ReadSourceFont() {
    FileReader reader(baseName, nullptr, kFontDirectory);
    if (!reader.IsOpen()) return;
    gResourceManager.PreheatReadAheadResource();
    FontFileServices& files = GetFontFileServices();
    // The set to build: codes 0-255 and every character the strings use. Rasterising
    // the face into pages is not part of this engine, so the set goes no further.
    std::unique_ptr<uint8_t[]> characters(new uint8_t[kCharacterSetBytes]());
    std::memset(characters.get(), 0xFF, 256 / 8);
    for (uint32_t language = 0; language < kLanguageCount; ++language)
        if (!files.CollectUsedCharacters(language, characters.get())) break;
}

bool ResourceFont::CreatePageTextures() {
    const gfx::Format format = texelBytes == 2 ? gfx::FMT_A8L8 : gfx::FMT_A8;
    std::vector<std::unique_ptr<VornexRendererTextureCreationJob>> jobs;
    jobs.reserve(pages.size());
    for (Page& page : pages) {
        const uint32_t bytes = page.pixels ? kFontPageWidth * texelBytes * page.height : 0;
        jobs.emplace_back(new VornexRendererTextureCreationJob(kFontPageWidth, page.height, 1, 0, format,
                                                               gfx::POOL_MANAGED, page.pixels, bytes, true,
                                                               JOB_WANTS_EVENT));
        page.pixels = nullptr;
        if (gResourceManager.OnMainThread()) gVornexRenderer.FlushCommands(false);
        SubmitResourceJob(jobs.back().get(), false);
    }
    bool all = true;
    for (auto& job : jobs) {
        job->WaitForCompletion();
        DeviceObjectHandle* texture = job->TakeHandle();
        all = all && texture;
        if (texture) pageTextures.push_back(texture);
    }
    return all;
}
