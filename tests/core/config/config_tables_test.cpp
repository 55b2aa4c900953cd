// The registered property tables of the configuration classes are the format of
// "config.bin" and "Project.ConfigBin". Each table (class and base names, and per
// property its name, type id, flags, default as text and enumeration names) is folded
// into one CRC-32 and compared with the value taken when the tables were checked entry
// by entry against the design; a changed row anywhere changes the digest.
// test-sanitize: address
#include <gtest/gtest.h>

#include <string>

#include "core/CRC32.h"
#include "core/config/GameConfig.h"
#include "core/config/OutlineParams.h"
#include "core/config/ProjectConfig.h"
#include "core/rtti/RTTIProperty.h"

namespace {

std::string Describe(const RTTIClass* c, const void* object) {
    std::string s = std::string(c->Name()) + "<" + (c->Base() ? c->Base()->Name() : "") + ">";
    for (uint32_t i = 0; i < c->PropertyCount(); ++i) {
        const RTTIProperty* p = c->PropertyAt(i);
        char text[256] = "-";
        if (p->IsTyped()) p->ToString(object, text, sizeof text);
        s += "|" + std::string(p->Name()) + "," + std::to_string(p->TypeId()) + "," + std::to_string(p->Flags()) + "," +
             text;
        if (p->Flags() & kPropertyFlagEnum)
            for (auto* names = static_cast<const char* const*>(p->Extra()); *names; ++names) s += std::string(",") + *names;
    }
    return s;
}

uint32_t Digest(const RTTIClass* c, const void* object) {
    const std::string s = Describe(c, object);
    return CRC32::GetDefault().Compute(s.data(), static_cast<uint32_t>(s.size()));
}

TEST(ConfigTablesTest, EveryTableMatchesItsCheckedDigest) {
    GameConfig game;
    ProjectConfig project;
    KeyBindDef bind;
    ControlEntry control;
    FontReplacement font;
    const RTTIClass* gameClass = game.GetRTTIClass();
    struct Case {
        const RTTIClass* cls;
        const void* object;
        uint32_t digest;
    } cases[] = {
        {gameClass, &game, 0x2DFDFABBu},
        {gameClass->Base(), &game, 0xBA4DD3CBu},
        {gameClass->Base()->Base(), &game, 0xCC4A84FEu},
        {game.rendererConfig.GetRTTIClass(), &game.rendererConfig, 0x6DD9B7E3u},
        {game.consoleHistory.GetRTTIClass(), &game.consoleHistory, 0xE7569FC1u},
        {project.GetRTTIClass(), &project, 0x4CF6B142u},
        {OutlineParams::RegisterClass(), &project.outline, 0x7EA20BE6u},
        {OutlineParams::RegisterClass(), &project.uiOutline, 0x7EA20BE6u},
        {KeyBindDef::RegisterClass(), &bind, 0x7B2F58C1u},
        {ControlEntry::RegisterClass(), &control, 0xEC6B4DF4u},
        {FontReplacement::RegisterClass(), &font, 0x3821DCE9u},
    };
    for (const Case& c : cases) {
        ASSERT_NE(c.cls, nullptr);
        EXPECT_EQ(Digest(c.cls, c.object), c.digest) << Describe(c.cls, c.object);
    }
}

}  // namespace
