#pragma once
// Binary scenes written by the independent property-list writer, and the templates
// they name registered in memory.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/entity/EntityTemplate.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "engine/entity/SceneParametersEntity.h"

namespace scenefiles {

constexpr const char* kPlainTemplate = "00000000-0000-0000-0000-0000000000A1";
constexpr const char* kParamsTemplate = "00000000-0000-0000-0000-0000000000A2";

inline std::vector<uint8_t> Write(const std::string& json, const char* tag = "scene") {
    const std::string out = std::string("/tmp/scene_files_") + tag + "_" + std::to_string(::getpid()) + ".bin";
    const std::string cmd = "python3 " PROJECT_SOURCE_ROOT "/tests/support/proplist.py scene " + out + " '" + json + "'";
    std::vector<uint8_t> bytes;
    if (std::system(cmd.c_str()) != 0) return bytes;
    std::ifstream in(out, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::remove(out.c_str());
    return bytes;
}

struct ParamsTemplate : EntityTemplate {
    Entity* CreateEntity() override { return new SceneParametersEntity(); }
};

// A template in the registry's GUID index for as long as it lives.
struct RegisteredTemplate {
    RegisteredTemplate(EntityTemplate* t, const char* guidText, uint32_t type) {
        stub.guid.FromString(guidText);
        stub.typeId = type;
        t->guid = stub.guid;
        t->typeId = type;
        stub.SetTemplate(t);
        gEntityTemplateRegistry.InsertStub(&stub);
    }
    ~RegisteredTemplate() {
        gEntityTemplateRegistry.RemoveStub(&stub);  // the stub's end unlinks the template
    }
    EntityTemplateStub stub;
};

}  // namespace scenefiles
