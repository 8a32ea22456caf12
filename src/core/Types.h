#pragma once
// Basic types shared by every subsystem. All program text is GBK bytes in std::string.
#include <cstdint>
#include <string>
#include <vector>

using AnsiString = std::string;
using TDateTime = double;            // days since 1899-12-30, fraction = time of day
using TArrayByte = std::vector<uint8_t>;
