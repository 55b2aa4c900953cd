#pragma once
// Hand-written bindings of the engine-core package, included by its generated unit
// (bindings/pkg/EngineCore.pkg), each replacing the generated one of the same name.
