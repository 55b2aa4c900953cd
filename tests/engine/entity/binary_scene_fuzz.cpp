// Arbitrary bytes through the binary scene parser (a few templates registered) and the
// walk grid's block reader. The first byte picks the reader and, for scenes, the parse
// flags; the rest is the input. Seeds come from the independent property-list writer.
#include <cstdint>
#include <string>
#include <vector>

#include "ProgramStaticInit.h"
#include "SceneFiles.h"
#include "engine/entity/BinaryScene.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/SceneGrid.h"

namespace {

const std::string kScene =
    "{\"root\":{\"active\":\"00000000-0000-0000-0000-000000000003\"},\"entities\":["
    "{\"template\":\"" + std::string(scenefiles::kPlainTemplate) +
    "\",\"name\":\"a\",\"guid\":\"00000000-0000-0000-0000-000000000001\","
    "\"parent\":\"00000000-0000-0000-0000-000000000002\"},"
    "{\"template\":\"" + std::string(scenefiles::kPlainTemplate) +
    "\",\"name\":\"b\",\"guid\":\"00000000-0000-0000-0000-000000000002\"},"
    "{\"template\":\"" + std::string(scenefiles::kParamsTemplate) +
    "\",\"name\":\"p\",\"guid\":\"00000000-0000-0000-0000-000000000003\"}],"
    "\"sets\":[{\"name\":\"s\",\"guid\":\"00000000-0000-0000-0000-0000000000F1\","
    "\"members\":[\"00000000-0000-0000-0000-000000000001\"]}],"
    "\"grid\":{\"width\":3,\"height\":2,\"origin\":[1,0,1,1],\"cell\":0.5},\"sequence\":\"\"}";

void Add(void (*add)(const uint8_t*, size_t), uint8_t selector, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> input{selector};
    input.insert(input.end(), bytes.begin(), bytes.end());
    add(input.data(), input.size());
}

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    const std::vector<uint8_t> scene = scenefiles::Write(kScene, "fuzz");
    Add(add, 3, scene);
    Add(add, 0, scenefiles::Write("{}", "fuzz"));
    // The grid block alone (after the grid byte).
    const std::vector<uint8_t> grid = scenefiles::Write(
        "{\"grid\":{\"width\":2,\"height\":2,\"cell\":1.0},\"layers\":[]}", "fuzz");
    if (grid.size() > 4 + 36 + 4 + 4) Add(add, 4, std::vector<uint8_t>(grid.end() - 4 - 36 - 4, grid.end() - 4));
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    gEntityManager->Init(BoundingBox4(Vector(-100, -50, -100, 1), Vector(100, 50, 100, 1)), 10.0f);
    static EntityTemplate plain;
    static scenefiles::ParamsTemplate params;
    plain.SetName("plain");
    params.SetName("params");
    static scenefiles::RegisteredTemplate registeredPlain(&plain, scenefiles::kPlainTemplate, 0);
    static scenefiles::RegisteredTemplate registeredParams(&params, scenefiles::kParamsTemplate, ENTITY_SCENEPARAMBOX);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    if (data[0] & 4) {
        SceneGrid grid;
        if (grid.Read(data + 1, size - 1, data[0] & 1)) {
            for (float x : {-1.0f, 0.0f, 0.7f, 3.0f})
                grid.CellToWorld(grid.WorldToCell(Vector(x, 0.0f, x, 1.0f)));
        }
        return 0;
    }
    ParseBinaryScene(data + 1, size - 1, data[0] & 3, 0);
    gEntityManager->NewScene();
    return 0;
}
