// shaderdefs: reads the readable description of the shader families (Shaders.def) and
// writes Shaders.DefBin through the engine's own property writer; with --textures it
// also writes the five system textures as uncompressed DDS files into that folder.
//
//   shaderdefs <Shaders.def> <Shaders.DefBin> [--textures <folder>]
//
// The DefBin's definition stamp is a 64-bit FNV-1a hash of the family records as
// written, so changed definitions invalidate every compiled shader made under the old
// ones. Options are written sorted by name, case-insensitively (their bit order).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/CrtRand.h"
#include "core/config/CoreStaticInit.h"
#include "core/rtti/RTTIProperty.h"
#include "render/frame/RenderStaticInit.h"
#include "render/shaders/ShaderDefinitions.h"

namespace {

bool Fail(const std::string& file, int line, const std::string& what) {
    std::fprintf(stderr, "%s:%d: %s\n", file.c_str(), line, what.c_str());
    return false;
}

void ReplaceAll(std::string& s, char from, char to) { std::replace(s.begin(), s.end(), from, to); }

bool ParseParameter(std::istringstream& words, ShaderParameterDefinition* p, std::string* error) {
    const RTTIClass* cls = ShaderParameterDefinition::RegisterClass();
    std::string name, pair;
    if (!(words >> name)) return *error = "a param needs a name", false;
    p->name = name.c_str();
    while (words >> pair) {
        const size_t eq = pair.find('=');
        if (eq == std::string::npos) return *error = "expected Property=text, got " + pair, false;
        const std::string key = pair.substr(0, eq);
        std::string value = pair.substr(eq + 1);
        ReplaceAll(value, ',', ' ');  // vector defaults are written with commas
        const RTTIProperty* property = cls->FindPropertyInChain(key.c_str());
        if (!property || key == "Name" || !property->FromString(p, value.c_str()))
            return *error = "unknown parameter property " + key, false;
    }
    if (p->bits & SHADER_PARAM_BIT_DEFINITION_ERROR) return *error = "a parameter word is not known", false;
    return true;
}

bool ParseDescription(const std::string& path, std::vector<ShaderFamily*>* families) {
    std::ifstream in(path);
    if (!in) return Fail(path, 0, "cannot open");
    std::string text;
    int line = 0;
    ShaderOption* option = nullptr;
    while (std::getline(in, text)) {
        ++line;
        text = text.substr(0, text.find('#'));
        std::istringstream words(text);
        std::string keyword, name, flag;
        if (!(words >> keyword)) continue;
        if (keyword == "family") {
            if (!(words >> name)) return Fail(path, line, "a family needs a name");
            families->push_back(new ShaderFamily);
            ShaderFamily* f = families->back();
            f->name = name.c_str();
            option = nullptr;
            while (words >> flag) {
                if (flag == "deferred") f->deferred = true;
                else if (flag == "solidnondeferred") f->solidNonDeferred = true;
                else return Fail(path, line, "unknown family flag " + flag);
            }
        } else if (keyword == "option") {
            if (families->empty() || !(words >> name)) return Fail(path, line, "an option needs a family and a name");
            ShaderFamily* f = families->back();
            f->options.Resize(f->options.Count() + 1);
            option = &f->options[f->options.Count() - 1];
            option->name = name.c_str();
            while (words >> flag) {
                std::string list = flag.substr(flag.find('=') + 1);
                if (flag == "vs") option->affectsVertexShader = true;
                else if (flag == "ps") option->affectsPixelShader = true;
                else if (flag == "system") option->system = true;
                else if (flag == "default") option->defaultOn = true;
                else if (flag.rfind("enforces=", 0) == 0) option->enforcedOptionNames = list.c_str();
                else if (flag.rfind("disables=", 0) == 0) option->disabledOptionNames = list.c_str();
                else return Fail(path, line, "unknown option flag " + flag);
            }
        } else if (keyword == "param") {
            if (families->empty()) return Fail(path, line, "a param needs a family");
            DynarraySafe<ShaderParameterDefinition>& list =
                option ? option->parameterDefinitions : families->back()->parameterDefinitions;
            list.Resize(list.Count() + 1);
            std::string error;
            if (!ParseParameter(words, &list[list.Count() - 1], &error)) return Fail(path, line, error);
        } else {
            return Fail(path, line, "unknown keyword " + keyword);
        }
    }
    for (ShaderFamily* f : *families)
        std::stable_sort(f->options.begin(), f->options.end(), [](const ShaderOption& a, const ShaderOption& b) {
            return RTTIStricmp(a.name.CStr(), b.name.CStr()) < 0;
        });
    return true;
}

void Put(std::vector<uint8_t>* out, const void* data, size_t n) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    out->insert(out->end(), p, p + n);
}

bool WriteDefBin(const std::vector<ShaderFamily*>& families, const std::string& path) {
    std::vector<uint8_t> records;
    for (const ShaderFamily* f : families) {
        const RTTIClass* cls = ShaderFamily::RegisterClass();
        const uint32_t size = cls->SerializeProperties(nullptr, f, 0);
        const size_t at = records.size();
        Put(&records, &size, 4);
        records.resize(at + 4 + size);
        cls->SerializeProperties(records.data() + at + 4, f, 0);
    }
    uint64_t stamp = 0xCBF29CE484222325ull;
    for (uint8_t b : records) stamp = (stamp ^ b) * 0x100000001B3ull;
    std::vector<uint8_t> file;
    const uint32_t magic = kShaderDefBinMagic, count = static_cast<uint32_t>(families.size());
    Put(&file, &magic, 4);
    Put(&file, &stamp, 8);
    Put(&file, &count, 4);
    file.insert(file.end(), records.begin(), records.end());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    return out.good() || Fail(path, 0, "cannot write");
}

// An uncompressed A8R8G8B8 DDS of one level.
bool WriteDds(const std::string& path, uint32_t width, uint32_t height, const std::vector<uint32_t>& texels) {
    uint32_t header[32] = {0x20534444u, 124, 0x100F, height, width, width * 4, 0, 1};
    const uint32_t format[8] = {32, 0x41, 0, 32, 0xFF0000u, 0xFF00u, 0xFFu, 0xFF000000u};
    std::memcpy(&header[19], format, sizeof format);
    header[27] = 0x1000;  // caps: texture
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(header), sizeof header);
    out.write(reinterpret_cast<const char*>(texels.data()), static_cast<std::streamsize>(texels.size() * 4));
    return out.good() || Fail(path, 0, "cannot write");
}

bool WriteSystemTextures(const std::string& folder) {
    CrtSrand(1);
    std::vector<uint32_t> noise(64 * 64);
    for (uint32_t& t : noise)
        t = 0xFF000000u | (uint32_t(CrtRand() & 0xFF) << 16) | (uint32_t(CrtRand() & 0xFF) << 8) | uint32_t(CrtRand() & 0xFF);
    return WriteDds(folder + "/RefractionNoise.dds", 64, 64, noise) &&
           WriteDds(folder + "/White_4x4$cxy.dds", 4, 4, std::vector<uint32_t>(16, 0xFFFFFFFFu)) &&
           WriteDds(folder + "/Gray_4x4$cxy.dds", 4, 4, std::vector<uint32_t>(16, 0xFF808080u)) &&
           WriteDds(folder + "/SteamAvatar0.dds", 32, 32, std::vector<uint32_t>(32 * 32, 0xFF406080u)) &&
           WriteDds(folder + "/SteamAvatar1.dds", 32, 32, std::vector<uint32_t>(32 * 32, 0xFF804060u));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && !(argc == 5 && std::strcmp(argv[3], "--textures") == 0)) {
        std::fprintf(stderr, "usage: shaderdefs <Shaders.def> <Shaders.DefBin> [--textures <folder>]\n");
        return 2;
    }
    const StaticInitTable* tables[] = {&kCoreStaticInit, &kRenderStaticInit};
    RunStaticInit(tables, 2);
    std::vector<ShaderFamily*> families;
    bool ok = ParseDescription(argv[1], &families) && WriteDefBin(families, argv[2]);
    if (ok && argc == 5) {
        std::error_code error;
        std::filesystem::create_directories(argv[4], error);
        ok = !error && WriteSystemTextures(argv[4]);
    }
    for (ShaderFamily* f : families) delete f;
    RunStaticShutdown();
    return ok ? 0 : 1;
}
