#pragma once
// CoreConfig: the few settings the core itself reads. Root of the engine and game
// configuration classes (CoreConfig : EngineConfig : GameConfig).
//
// Properties (registration order is the file format):
//   "Connect to external console" bool false
//   "Break on assert"             bool false
//   "Log frame info"              u8, enumeration 0x80 over kLogFrameModeNames, 0
//
// Threads: main thread.
#include <cstdint>

#include "core/rtti/RTTIClass.h"

class CoreConfig : public RTTIPolyBaseClass {
public:
    CoreConfig() = default;
    CoreConfig(const CoreConfig&) = delete;
    CoreConfig& operator=(const CoreConfig&) = delete;

    static const RTTIClass* RegisterClass(const char* nameOverride = nullptr);
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }

    bool connectToExternalConsole = false;
    bool breakOnAssert = false;
    uint8_t logFrameInfo = 0;  // LOG_FRAME_INFO_*
};
