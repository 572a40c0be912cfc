// The MTL file: the materials, their colours and texture names.
#include "obj/OBJClass.h"

#include "obj/LineSyntax.h"
#include "util/Errors.h"
#include "util/TextFile.h"

namespace {

bool IsRealNumber(std::string_view Text)
{
    try {
        StrToFloat(Text);
        return true;
    } catch (const EConvertError&) {
        return false;
    }
}

// The options a texture statement may carry before its file name, with the
// arguments each takes. The three that take numbers take up to three, as
// many as follow that are numbers.
struct TMapOption
{
    std::string_view Name;
    int Arguments;
    bool Numbers;
};

constexpr TMapOption MapOptions[] = {
    { "-blendu", 1, false },
    { "-blendv", 1, false },
    { "-cc", 1, false },
    { "-clamp", 1, false },
    { "-bm", 1, false },
    { "-boost", 1, false },
    { "-texres", 1, false },
    { "-imfchan", 1, false },
    { "-type", 1, false },
    { "-mm", 2, false },
    { "-o", 3, true },
    { "-s", 3, true },
    { "-t", 3, true },
};

const TMapOption* FindMapOption(std::string_view Name)
{
    for (const TMapOption& option : MapOptions) {
        if (option.Name == Name)
            return &option;
    }
    return nullptr;
}

// The file name of a texture statement: what follows its options, to the end
// of the line, blanks inside it kept. Empty when the options use up the line.
std::string_view TextureName(std::string_view Rest)
{
    for (;;) {
        Rest = SkipBlanks(Rest);
        std::string_view after = Rest;
        const TMapOption* option = FindMapOption(NextArgument(after));
        if (!option)
            return TrimControl(Rest);
        Rest = after;
        for (int k = 0; k < option->Arguments; ++k) {
            after = Rest;
            const std::string_view argument = NextArgument(after);
            if (option->Numbers && !IsRealNumber(argument))
                break;
            Rest = after;
        }
    }
}

} // namespace

void TOBJModel::LoadMTL(const std::string& MTLFileName)
{
    Materials.clear();
    ForEachTextLine(MTLFileName, 26, [this](std::string_view line) {
        ReadMTLLine(line);
        return true;
    });
    Log("MTL Loaded.");
}

void TOBJModel::ReadMTLLine(std::string_view Line)
{
    std::string_view rest = Line;
    const std::string_view keyword = NextArgument(rest);
    if (KeywordIs(keyword, "NEWMTL")) {
        TOBJMaterial material {};
        material.Name = std::string(NextArgument(rest));
        Materials.push_back(std::move(material));
        return;
    }
    // A material keyword before the first "newmtl" has nothing to act on.
    if (Materials.empty())
        return;
    TOBJMaterial& material = Materials.back();
    if (KeywordIs(keyword, "MAP_KD")) {
        material.MapKd = std::string(TextureName(rest));
    } else if (KeywordIs(keyword, "NS")) {
        material.Ns = StrToFloat(NextArgument(rest));
    } else {
        TVec3* colour = KeywordIs(keyword, "KA") ? &material.Ka
            : KeywordIs(keyword, "KD")           ? &material.Kd
            : KeywordIs(keyword, "KS")           ? &material.Ks
                                                 : nullptr;
        if (!colour)
            return;
        const std::string_view r = NextArgument(rest);
        const std::string_view g = NextArgument(rest);
        const std::string_view b = NextArgument(rest);
        const float red = StrToFloat(r);
        // A single number is a grey.
        if (g.empty() && b.empty()) {
            *colour = Vec3(red, red, red);
            return;
        }
        const float green = StrToFloat(g);
        const float blue = StrToFloat(b);
        *colour = Vec3(red, green, blue);
    }
}
