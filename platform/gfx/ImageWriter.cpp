// PNG writer over libpng (see ImageWriter.h). The file is written to a temporary name
// beside the target and renamed over it, so a reader never sees half a picture.
#include "platform/gfx/ImageWriter.h"

#include <png.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/gfx/GfxRecorder.h"
#include "platform/gfx/PixelFormat.h"

namespace gfx {

namespace {

// libpng reports failures by longjmp back into this frame, so it holds no object whose
// members change after the jump point (no strings: the caller builds its messages).
bool EncodePng(FILE* file, uint32_t width, uint32_t height, const uint32_t* argb, bool keepAlpha) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<uint8_t> row(static_cast<size_t>(width) * 4);
    volatile bool ok = png && info;  // volatile: set again after the longjmp
    if (ok && setjmp(png_jmpbuf(png))) ok = false;  // libpng reports failures by longjmp
    if (ok) {
        png_init_io(png, file);
        png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (uint32_t y = 0; y < height; ++y) {
            for (uint32_t x = 0; x < width; ++x) {
                const uint32_t p = argb[static_cast<size_t>(y) * width + x];
                row[x * 4 + 0] = static_cast<uint8_t>(p >> 16);
                row[x * 4 + 1] = static_cast<uint8_t>(p >> 8);
                row[x * 4 + 2] = static_cast<uint8_t>(p);
                row[x * 4 + 3] = keepAlpha ? static_cast<uint8_t>(p >> 24) : 255;
            }
            png_write_row(png, row.data());
        }
        png_write_end(png, nullptr);
    }
    png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
    return ok;
}

}  // namespace

bool WritePng(const std::string& path, uint32_t width, uint32_t height, const uint32_t* argb, bool keepAlpha,
              std::string* error) {
    if (width == 0 || height == 0 || !argb) {
        *error = "empty picture";
        return false;
    }
    const std::string temporary = path + ".tmp";
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        *error = "cannot create " + temporary;
        return false;
    }
    const bool ok = EncodePng(file, width, height, argb, keepAlpha);
    const bool flushed = std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    if (!ok || !flushed || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

bool SaveSurfacePng(Device* device, Surface* surface, const std::string& path, std::string* error) {
    std::vector<uint32_t> argb;
    uint32_t width = 0, height = 0;
    SurfaceDesc desc{};
    if (!ReadSurfaceArgb(device, surface, &argb, &width, &height, error)) return false;
    surface->GetDesc(&desc);
    const bool alpha = desc.format != FMT_X8R8G8B8 && desc.format != FMT_X8B8G8R8 && desc.format != FMT_R5G6B5;
    return WritePng(path, width, height, argb.data(), alpha, error);
}

bool ReadSurfaceArgb(Device* device, Surface* surface, std::vector<uint32_t>* argb, uint32_t* width, uint32_t* height,
                     std::string* error) {
    Recorder* recorder = device ? GetRecorder(device) : nullptr;
    SurfaceDesc desc{};
    if (!recorder || !surface || Failed(surface->GetDesc(&desc))) {
        *error = "no surface of this platform's devices";
        return false;
    }
    detail::FormatInfo info;
    if (!detail::GetFormatInfo(desc.format, &info) || !info.convertible || info.depth || info.blockCompressed) {
        *error = "format " + std::to_string(desc.format) + " cannot be saved as a picture";
        return false;
    }
    std::vector<uint8_t> bytes;
    if (Failed(recorder->ReadSurface(surface, &bytes))) {
        *error = "the surface cannot be read";
        return false;
    }
    const uint32_t pitch = detail::RowPitch(desc.format, desc.width);
    const bool alpha = desc.format != FMT_X8R8G8B8 && desc.format != FMT_X8B8G8R8 && desc.format != FMT_R5G6B5;
    argb->resize(static_cast<size_t>(desc.width) * desc.height);
    *width = desc.width;
    *height = desc.height;
    if (desc.format == FMT_A8R8G8B8 || desc.format == FMT_X8R8G8B8) {
        // Already 0xAARRGGBB words (little-endian B, G, R, A bytes): rows copied as they are.
        for (uint32_t y = 0; y < desc.height; ++y) {
            uint32_t* row = argb->data() + static_cast<size_t>(y) * desc.width;
            std::memcpy(row, bytes.data() + static_cast<size_t>(y) * pitch, size_t(desc.width) * 4);
            if (!alpha)
                for (uint32_t x = 0; x < desc.width; ++x) row[x] |= 0xFF000000u;
        }
        return true;
    }
    for (uint32_t y = 0; y < desc.height; ++y) {
        for (uint32_t x = 0; x < desc.width; ++x) {
            float rgba[4];
            detail::DecodeTexel(desc.format, bytes.data() + static_cast<size_t>(y) * pitch + x * info.bytesPerTexel, rgba);
            auto byte = [](float v) {
                v = v < 0.0f ? 0.0f : v > 1.0f ? 1.0f : v;
                return static_cast<uint32_t>(v * 255.0f + 0.5f);
            };
            (*argb)[static_cast<size_t>(y) * desc.width + x] =
                ((alpha ? byte(rgba[3]) : 255u) << 24) | (byte(rgba[0]) << 16) | (byte(rgba[1]) << 8) | byte(rgba[2]);
        }
    }
    return true;
}

}  // namespace gfx
