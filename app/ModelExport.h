// An MDL5 model written back out as the files a conversion reads: one OBJ
// file per frame, the MTL file, the first skin as a BMP texture and the
// frame-name list, made so that converting them gives the model again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class TBitmap;
class TMDLModel;
class TMDLSkin5;
struct TMDLPackedVertex;
struct TVec3;

// The names of the files an export writes: DIR/NAME_0.obj ... for the
// frames, DIR/NAME.mtl, DIR/NAME_skin.bmp (.dds for a skin that is a DDS
// file) and DIR/NAME.fns.
struct TExportNames
{
    std::string Dir; // empty or ending in "/"
    // The MDL file's name without its extension, with every "_" made "-":
    // a conversion takes the name up to its first "_" as the model's name.
    std::string BaseName;
    bool Renamed = false; // BaseName is not the MDL file's own name

    // OutDir empty: the MDL file's folder.
    static TExportNames For(const std::string& MDLFile, const std::string& OutDir);
    std::string FrameFile(std::size_t Frame) const;
    std::string MTLFile() const { return Dir + BaseName + ".mtl"; }
    std::string SkinName(bool DDS) const { return BaseName + (DDS ? "_skin.dds" : "_skin.bmp"); }
    std::string FrameNamesFile() const { return Dir + BaseName + ".fns"; }
};

// What an export writes, in memory, for callers that write the files and for
// tests.
class TModelExport
{
public:
    // ERangeError when a scale of the header leaves positions that single
    // precision cannot hold (not a number, infinite, or near the largest
    // single).
    TModelExport(const TMDLModel& Model, TExportNames Names);

    const TExportNames& Names() const { return FNames; }
    // Every file the export writes, frames first.
    std::vector<std::string> Files() const;

    // The OBJ file of a frame: positions unpacked (OBJ axes: x from the
    // file's Y, y from Z, z from X), the skin vertices as texture
    // coordinates at the centres of their pixels, each vertex's table normal
    // turned back into OBJ axes, and the triangles in counter-clockwise
    // order, every corner v/vt/vn with the vertex's own normal.
    std::string FrameOBJ(std::size_t Frame) const;
    std::string MTL() const;
    std::string FrameNames() const;
    // The first skin as a 24-bit image, less the white margin a conversion
    // adds to it again; false when there is no first skin with pixels to
    // show (none, none wide, or a DDS file).
    bool SkinImage(TBitmap& Image) const;
    // The first skin when it is a DDS file, else null.
    const TMDLSkin5* DDSSkin() const;
    // Triangles left out because they name a vertex the frames do not have.
    std::size_t SkippedTriangles() const { return FSkipped; }

    // The OBJ coordinate that converts back to the packed value P on an axis
    // of scale Scale: the packing undone at the middle of P's step, held
    // inside -1..1 where the packing has the scale 0.01 and P lies in it.
    static float Coordinate(std::uint32_t P, float Scale);
    // The OBJ normal that a conversion gives the table's direction Index
    // again; zero for an index beyond the table.
    static TVec3 Normal(std::uint8_t Index);
    // The texture coordinate (0..1 across Size pixels) that a conversion
    // truncates back to pixel Pixel, which may lie outside 0..Size.
    static float TextureCoordinate(std::int32_t Pixel, std::int32_t Size);

    // About how many bytes Write writes: frame 0's file as many times as
    // there are frames, and the texture. A small model file of many frames
    // can make a very large export.
    std::uint64_t EstimatedBytes() const;

    // Makes the folder when it is missing and writes every file; each
    // replaces what is at its name (links there included) only once
    // complete.
    void Write() const;

private:
    const TMDLModel& FModel;
    TExportNames FNames;
    const TMDLSkin5* FSkin = nullptr; // the first skin
    std::int32_t FSkinWidth = 0; // of the first skin's picture, 0 without one
    std::int32_t FSkinHeight = 0;
    // Of the texture written: the picture less the white margin that a
    // conversion adds back when it lays out its atlas.
    std::int32_t FTextureWidth = 0;
    std::int32_t FTextureHeight = 0;
    std::vector<std::uint32_t> FColours; // the first skin's picture, decoded
    bool FMaterial = false; // whether the OBJ files name a material
    std::string FKd; // its colour, as the MTL file states it
    std::size_t FSkipped = 0;
};
