// A readable description of an MDL5 model, as `tarvex-cli info` prints it.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

class TMDLModel;

// Writes the header fields, each skin's type and size, the counts and each
// frame's name and box, one item a line. It needs what
// TMDLModel::LoadLayoutFromFile reads: no pixels and no vertices. Names from the file are printed
// with unprintable bytes escaped, so a hostile file cannot drive the terminal.
void DescribeMDL(
    const TMDLModel& Model, const std::string& FileName, std::uint64_t FileSize, std::ostream& Out);
