#include "obj/LineSyntax.h"

bool KeywordIs(std::string_view Keyword, std::string_view Upper)
{
    if (Keyword.size() != Upper.size())
        return false;
    for (std::size_t i = 0; i < Keyword.size(); ++i) {
        char c = Keyword[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c != Upper[i])
            return false;
    }
    return true;
}

TLineKind ClassifyKeyword(std::string_view Line, std::string_view& Rest)
{
    Rest = Line;
    const std::string_view keyword = NextArgument(Rest);
    if (KeywordIs(keyword, "V"))
        return TLineKind::Vertex;
    if (KeywordIs(keyword, "VN"))
        return TLineKind::Normal;
    if (KeywordIs(keyword, "VT"))
        return TLineKind::UV;
    if (KeywordIs(keyword, "F") || KeywordIs(keyword, "FO"))
        return TLineKind::Face;
    if (KeywordIs(keyword, "USEMTL"))
        return TLineKind::UseMaterial;
    return TLineKind::Other;
}
