#pragma once
// Private to platform/gfx: the C-preprocessor subset of the shader compiler stand-in.
// Object-like and function-like #define, #undef, #if/#ifdef/#ifndef/#elif/#else/#endif
// with defined() and integer expressions, #include through the handler, #error,
// #pragma (ignored), comments and line continuations. Bounded: include depth, macro
// expansion depth and output size are capped and reported as errors.
#include <string>
#include <vector>

#include "platform/gfx/ShaderCompiler.h"

namespace gfx::detail {

struct SourceLine {
    std::string text;  // after comments, continuations and macro expansion
    uint32_t file;     // index into PreprocessResult::files (0 is the main source)
    uint32_t line;     // 1-based
};

struct PreprocessResult {
    std::vector<SourceLine> lines;
    std::vector<std::string> files;  // "memory" first, then every included file in opening order
    std::vector<std::string> errors;  // "file(line,col): error Xnnnn: text"
};

void Preprocess(const char* source, size_t bytes, const ShaderMacro* defines, IncludeHandler* include,
                PreprocessResult* result);

}  // namespace gfx::detail
