#include "render/scene/LightProbeMap.h"

#include <cstring>
#include <string>

#include "core/Log.h"
#include "core/fs/FileReader.h"

namespace {
template <class T>
T Field(const uint8_t* header, uint32_t offset) {
    T value;
    std::memcpy(&value, header + offset, sizeof value);
    return value;
}
}  // namespace

void LightProbeMap::Clear() {
    for (Layer& layer : layers) {
        std::vector<uint32_t>().swap(layer.indices);
        std::vector<uint8_t>().swap(layer.records);
        layer.count = 0;
    }
    width = height = 0;
    area = Vector(0, 0, 1, 1);
}

bool LightProbeMap::Load(const char* sceneName, const char* suffix) {
    std::string name = sceneName ? sceneName : "";
    if (suffix) name += suffix;
    gLog.Print(LogSeverity::Progress, LogCategory::RenderDevice, "Loading game light probe map %s", name.c_str());
    Clear();
    FileReader reader(name.c_str(), "lpd", "scenes");
    if (!reader.IsOpen()) return false;
    uint8_t header[kHeaderBytes];
    const uint64_t fileBytes = reader.GetSize();
    if (fileBytes < kHeaderBytes || !reader.Read(header, kHeaderBytes)) {
        gLog.Error(LogCategory::RenderDevice, "Light probe map %s is cut short", name.c_str());
        return false;
    }
    if (Field<uint32_t>(header, 0) != kMagic || Field<uint16_t>(header, 4) != kVersion ||
        Field<uint16_t>(header, 6) != kLayerCount)
        return false;
    const uint32_t w = Field<uint16_t>(header, 8), h = Field<uint16_t>(header, 10);
    uint32_t counts[kLayerCount];
    uint64_t needed = 0;
    for (uint32_t i = 0; i < kLayerCount; ++i) {
        counts[i] = Field<uint32_t>(header, 12 + 4 * i);
        needed += uint64_t(w) * h * 4 + uint64_t(counts[i]) * kRecordBytes;
    }
    bool ok = needed <= fileBytes - kHeaderBytes;
    for (uint32_t i = 0; ok && i < kLayerCount; ++i) {
        Layer& layer = layers[i];
        layer.indices.resize(size_t(w) * h);
        layer.records.resize(size_t(counts[i]) * kRecordBytes);
        layer.count = counts[i];
        ok = reader.Read(layer.indices.data(), uint32_t(layer.indices.size() * 4)) &&
             reader.Read(layer.records.data(), uint32_t(layer.records.size()));
    }
    if (!ok) {
        Clear();
        gLog.Error(LogCategory::RenderDevice, "Light probe map %s is cut short", name.c_str());
        return false;
    }
    // Readers of the map index the records without checking: every index of a layer with
    // probes must name one. A layer without probes (a scene that lights none of its kind)
    // has no records to name, and its grid is never read.
    for (uint32_t i = 0; i < kLayerCount; ++i) {
        const Layer& layer = layers[i];
        if (layer.count == 0) continue;
        for (size_t cell = 0; cell < layer.indices.size(); ++cell) {
            if (layer.indices[cell] < layer.count) continue;
            gLog.Error(LogCategory::RenderDevice,
                       "Light probe map %s is damaged: cell %zu of layer %u names probe %u of %u", name.c_str(), cell, i,
                       layer.indices[cell], layer.count);
            Clear();
            return false;
        }
    }
    width = w, height = h;
    area =
        Vector(Field<float>(header, 32), Field<float>(header, 36), Field<float>(header, 40), Field<float>(header, 44));
    gLog.Print(LogSeverity::Progress, LogCategory::RenderDevice, "Loaded game light probe map (%dx%d)", int(w), int(h));
    return true;
}
