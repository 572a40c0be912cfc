// A small model on disk for the tests of the conversion command and its
// front ends: a cube of 8 vertices, 14 texture coordinates and 6 quads
// (12 triangles), in two materials.
#pragma once

#include <string>
#include <vector>

#include "TestUtil.h"
#include "app/ConversionCommand.h"

// A front end that answers the dialogs from its fields and records the rest.
class TScriptedHost : public TConversionHost
{
public:
    std::string OBJFile; // empty: the open dialog is cancelled
    std::string MDLFile; // empty: the save dialog is cancelled
    std::vector<std::string> Lines;
    std::vector<std::string> Errors;
    std::vector<std::string> Places;

    bool AskOBJFile(std::string& FileName) override
    {
        FileName = OBJFile;
        return !OBJFile.empty();
    }
    bool AskMDLFile(const std::string&, std::string& FileName) override
    {
        FileName = MDLFile;
        return !MDLFile.empty();
    }
    void ShowError(const std::string& Text, const std::string& Place) override
    {
        Errors.push_back(Text);
        Places.push_back(Place);
    }
    void AddLine(const std::string& Text) override { Lines.push_back(Text); }
    void SetText(const std::string&) override { }
    void ProcessMessages() override { }
};

// The cube's OBJ text; Size scales the positions, so frames differ.
inline std::string CubeOBJ(float Size = 0.5f, const std::string& MTLName = "")
{
    std::string text = MTLName.empty() ? std::string() : "mtllib " + MTLName + "\n";
    for (int i = 0; i < 8; ++i) {
        const float x = (i & 1) ? Size : -Size;
        const float y = (i & 2) ? Size : -Size;
        const float z = (i & 4) ? Size : -Size;
        text += "v " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(z) + "\n";
        text
            += "vn " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(z) + "\n";
    }
    // The unfolded cube's usual 14 texture coordinates.
    const float uv[14][2] = { { 0.25f, 0 }, { 0.5f, 0 }, { 0, 0.25f }, { 0.25f, 0.25f },
        { 0.5f, 0.25f }, { 0.75f, 0.25f }, { 1, 0.25f }, { 0, 0.5f }, { 0.25f, 0.5f },
        { 0.5f, 0.5f }, { 0.75f, 0.5f }, { 1, 0.5f }, { 0.25f, 0.75f }, { 0.5f, 0.75f } };
    for (const auto& c : uv)
        text += "vt " + std::to_string(c[0]) + " " + std::to_string(c[1]) + "\n";
    text += "usemtl red\n"
            "f 1/1/1 2/2/2 4/5/4 3/4/3\n"
            "f 5/9/5 6/10/6 8/14/8 7/13/7\n"
            "f 1/3/1 3/4/3 7/9/7 5/8/5\n"
            "usemtl blue\n"
            "f 2/5/2 4/6/4 8/11/8 6/10/6\n"
            "f 3/4/3 4/5/4 8/10/8 7/9/7\n"
            "f 1/6/1 5/11/5 6/12/6 2/7/2\n";
    return text;
}

// Writes Base.mtl (red with a missing texture, blue without one) and
// Base_0.obj in Dir.
inline void WriteCube(const TScratchDir& Dir, const std::string& Base)
{
    WriteText(Dir.File(Base + ".mtl"),
        "newmtl red\nKd 1 0 0\nmap_Kd bricks.bmp\nnewmtl blue\nKd 0 0 1\n");
    WriteText(Dir.File(Base + "_0.obj"), CubeOBJ(0.5f, Base + ".mtl"));
}
