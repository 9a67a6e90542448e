// Numbers as text, without the C++ library's formatting (which would add to the runner's size).
#pragma once
#include <cstdint>
#include <string>

std::string DecimalText(int32_t n);
// Upper-case hex, at least `digits` long.
std::string HexText(uint32_t n, int digits);
