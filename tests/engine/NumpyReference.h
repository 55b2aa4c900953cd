#pragma once
// Runs one of the float32 reference scripts beside the engine tests with Debian's
// python3 and numpy: the test writes its cases as lines of words, the script answers
// one line per case. Floats travel as their 32-bit patterns in hexadecimal, so both
// sides compare bit for bit.
#include <cstdint>
#include <string>
#include <vector>

// The script's answer lines. A missing interpreter, a missing numpy or a failing
// script fails the calling test (and returns nothing).
std::vector<std::string> RunNumpyReference(const char* script, const std::string& input);

// "%08x" of a float's bits, and back.
std::string FloatBits(float value);
float BitsToFloat(const std::string& hex);
// The words of a line as floats (each a bit pattern).
std::vector<float> ParseFloats(const std::string& line);
