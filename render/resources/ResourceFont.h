#pragma once
// ResourceFont (type 2): glyph pages and their textures for one face, size and outline.
//
// Name: "base~size#outline" (for example "a.ttf~10#2") or "base#outline~size..." (the
// text elements' file names, for example "_system.ttf#2~012" or "menu.ttf~020_German"):
// the base (lower-cased, at most 127 characters) names the face in "Common/Fonts"; the
// point size and the optional outline size are decimal; an outline above 0 makes the
// font outlined.
//
// Load: the binary font first (LoadBinFont, which fills the glyph pages and tables);
// when that fails, the TTF is read and the characters to build are gathered, but
// rasterising a TTF is not part of this engine, so such a font has no pages and fails.
// With pages, one texture per page is made by render jobs: 1024 wide, the page's
// height, one level, A8 for one byte per texel and A8L8 for two (the binary font's
// texel byte), managed; all jobs are submitted first and then waited for.
//
// The binary font reader and writer and the string table's character gathering belong
// to the user interface; they reach this class through FontFileServices below.
#include <cstdint>
#include <vector>

#include "render/resources/Resource.h"
#include "render/resources/ResourcePool.h"

class DeviceObjectHandle;
class ResourceFont;

// FontFileServices: what a font load needs of the user interface. The UI installs the
// implementation at start-up; until then (and after SetFontFileServices(nullptr)) the
// binary font is missing, nothing is written and no characters are gathered.
//
// Threads: called on the resource loader's thread; installed on the main thread.
class FontFileServices {
public:
    virtual ~FontFileServices() = default;
    // Reads the font's binary file into its pages and tables; false when it is missing or
    // does not match.
    virtual bool LoadBinFont(ResourceFont& font) { return false; }
    // Writes the binary file after a font was built from its TTF.
    virtual bool SaveBinFont(const ResourceFont& font) { return false; }
    // Sets the bit of every UTF-16 code the strings of a language (0-10) use, in a
    // 65,536-bit set; false when there is no string table.
    virtual bool CollectUsedCharacters(uint32_t language, uint8_t* bits) { return false; }
};

FontFileServices& GetFontFileServices();
// Not owned; null restores the default.
void SetFontFileServices(FontFileServices* services);

constexpr uint32_t kFontPageWidth = 1024;
constexpr uint32_t kMaxFontBaseName = 127;

class ResourceFont : public Resource {
public:

    // Parses the name (see above).
    explicit ResourceFont(const char* name);
    // Releases the page textures and frees the pages and tables.
    ~ResourceFont() override;

    uint32_t GetResourceType() const override { return RESOURCE_FONT; }
    bool LoadResource() override;

    // For the binary font reader: a page of kFontPageWidth x height texels of
    // TexelBytes() bytes each from EngineAlloc, taken over.
    void AddPage(uint8_t* pixels, uint32_t height);
    // Glyph tables (EngineAlloc), taken over and freed with the font.
    void SetGlyphTables(void* tables, uint32_t bytes);
    // Bytes per page texel (1 or 2; set by the reader before its pages).
    void SetTexelBytes(uint32_t bytes) { texelBytes = bytes == 2 ? 2 : 1; }
    uint32_t TexelBytes() const { return texelBytes; }
    // Drops the pages, their textures and the tables.
    void Clear();

    const char* BaseName() const { return baseName; }
    bool BaseNameValid() const { return baseNameValid; }
    uint32_t PointSize() const { return pointSize; }
    uint32_t OutlineSize() const { return outlineSize; }
    bool Outlined() const { return outlined; }
    uint32_t PageCount() const { return static_cast<uint32_t>(pages.size()); }
    uint32_t PageHeight(uint32_t i) const { return pages[i].height; }
    // A page's texels until its texture is made (then null).
    const uint8_t* PagePixels(uint32_t i) const { return pages[i].pixels; }
    uint32_t PageTextureCount() const { return static_cast<uint32_t>(pageTextures.size()); }
    DeviceObjectHandle* PageTexture(uint32_t i) const { return pageTextures[i]; }
    const void* GlyphTables() const { return glyphTables; }
    uint32_t GlyphTableBytes() const { return glyphTableBytes; }

private:
    struct Page {
        uint8_t* pixels;  // null once handed to its texture job
        uint32_t height;
    };
    void DropPages();
    bool CreatePageTextures();
    // Reads the TTF and gathers the characters to build.
    void ReadSourceFont();

    char baseName[kMaxFontBaseName + 1] = {};
    bool baseNameValid = false;
    uint32_t pointSize = 0;
    uint32_t outlineSize = 0;
    bool outlined = false;
    uint32_t texelBytes = 1;
    std::vector<Page> pages;
    std::vector<DeviceObjectHandle*> pageTextures;
    void* glyphTables = nullptr;
    uint32_t glyphTableBytes = 0;
};

class ResourceFontPool : public ResourcePool {
public:
    Resource* CreateResource(const char* name, uint32_t parameter) override { return new ResourceFont(name); }
};
