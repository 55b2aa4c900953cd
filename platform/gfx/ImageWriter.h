#pragma once
// Pictures of surfaces as PNG files (libpng): 8-bit RGBA, rows top to bottom.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/gfx/GfxDevice.h"

namespace gfx {

// Writes width x height pixels given as 0xAARRGGBB words, row after row. With
// keepAlpha false the alpha channel is written as 255 (a back buffer's X8 byte means
// nothing). False with a one-line reason when the file cannot be written.
bool WritePng(const std::string& path, uint32_t width, uint32_t height, const uint32_t* argb, bool keepAlpha,
              std::string* error);

// Saves a surface of this platform's devices: its pixels as the device reads them back
// (ReadSurface), converted to 8 bits per channel. Formats the device cannot convert
// (block-compressed, depth) are refused.
bool SaveSurfacePng(Device* device, Surface* surface, const std::string& path, std::string* error);

// The same pixels as 0xAARRGGBB words, rows top to bottom (what a window shows); the
// alpha of formats without one is 255. False with a one-line reason, as above.
bool ReadSurfaceArgb(Device* device, Surface* surface, std::vector<uint32_t>* argb, uint32_t* width, uint32_t* height,
                     std::string* error);

}  // namespace gfx
