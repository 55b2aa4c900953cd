#pragma once
// A small registered class for the Solid-file tests and fuzz target: "SolidFileTest"
// with u32 "Level", float "Volume" and NameString "Player"; and "SolidFileEmpty",
// whose blob has no payload.
#include <cstdint>

#include "core/rtti/RTTIClass.h"
#include "core/rtti/RTTIProperty.h"
#include "core/text/NameString.h"

namespace solidfiletest {

struct Settings : RTTIPolyBaseClass {
    uint32_t level = 0;
    float volume = 0.0f;
    NameString player;
    int loads = 0;

    static const RTTIClass* Class() {
        static RTTIClass* c = [] {
            auto* r = new RTTIClass;
            r->Register("SolidFileTest", kRTTIRootBaseName);
            r->AddProperty(new RTTIDirectAccessTypedProperty<uint32_t>("Level", RTTI_OFFSETOF(Settings, level)));
            r->AddProperty(new RTTIDirectAccessTypedProperty<float>("Volume", RTTI_OFFSETOF(Settings, volume)));
            r->AddProperty(new RTTIDirectAccessTypedProperty<NameString>("Player", RTTI_OFFSETOF(Settings, player)));
            return r;
        }();
        return c;
    }
    const RTTIClass* GetRTTIClass() const override { return Class(); }
    void OnLoaded(uint32_t) override { ++loads; }
};

struct Empty : RTTIPolyBaseClass {
    static const RTTIClass* Class() {
        static RTTIClass* c = [] {
            auto* r = new RTTIClass;
            r->Register("SolidFileEmpty", kRTTIRootBaseName);
            return r;
        }();
        return c;
    }
    const RTTIClass* GetRTTIClass() const override { return Class(); }
};

}  // namespace solidfiletest
