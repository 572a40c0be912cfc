// The MTL file: the materials, their colours and texture names.
#include "obj/OBJClass.h"

#include "obj/LineSyntax.h"
#include "util/TextFile.h"

void TOBJModel::LoadMTL(const std::string& MTLFileName)
{
    Materials.clear();
    TTextReader reader(MTLFileName);
    std::string_view line;
    while (reader.ReadLine(line)) {
        std::string_view keyword, rest;
        SplitFirst(line, Blanks, keyword, rest);
        if (KeywordIs(keyword, "NEWMTL")) {
            TOBJMaterial material {};
            material.Name = std::string(NextArgument(rest));
            Materials.push_back(std::move(material));
            continue;
        }
        // A material keyword before the first "newmtl" has nothing to act on.
        if (Materials.empty())
            continue;
        TOBJMaterial& material = Materials.back();
        if (KeywordIs(keyword, "MAP_KD")) {
            material.MapKd = std::string(NextArgument(rest));
        } else if (KeywordIs(keyword, "NS")) {
            material.Ns = StrToFloat(NextArgument(rest));
        } else {
            TVec3* colour = KeywordIs(keyword, "KA") ? &material.Ka
                : KeywordIs(keyword, "KD")           ? &material.Kd
                : KeywordIs(keyword, "KS")           ? &material.Ks
                                                     : nullptr;
            if (!colour)
                continue;
            const std::string_view r = NextArgument(rest);
            const std::string_view g = NextArgument(rest);
            const std::string_view b = NextArgument(rest);
            const float red = StrToFloat(r);
            const float green = StrToFloat(g);
            const float blue = StrToFloat(b);
            *colour = Vec3(red, green, blue);
        }
    }
    Log("MTL Loaded.");
}
