// How the lines of OBJ and MTL files are cut up: keywords, their arguments,
// indices and the kinds of OBJ line the reader acts on. The checks made on
// every line are inline: the OBJ reader runs them millions of times.
#pragma once

#include <cstdint>
#include <string_view>

#include "util/Split.h"

inline constexpr std::string_view Blanks = " \t";

inline bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Keywords compare after conversion to upper case, ASCII letters only;
// Upper is the table's upper-case spelling.
bool KeywordIs(std::string_view Keyword, std::string_view Upper);

// Rest without the blanks and tabs at its start.
inline std::string_view SkipBlanks(std::string_view Rest)
{
    std::size_t at = 0;
    while (at < Rest.size() && IsBlank(Rest[at]))
        ++at;
    return Rest.substr(at);
}

// The next argument of a keyword line: the text after any blanks and tabs up
// to the next one, trimmed of bytes of code 32 or less. Arguments are
// separated by runs of blanks and tabs, so only the end of the line gives an
// empty argument. Rest is left after the argument's delimiter.
inline std::string_view NextArgument(std::string_view& Rest)
{
    Rest = SkipBlanks(Rest);
    std::size_t end = 0;
    while (end < Rest.size() && !IsBlank(Rest[end]))
        ++end;
    const std::string_view argument = TrimControl(Rest.substr(0, end));
    Rest = Rest.substr(end < Rest.size() ? end + 1 : end);
    return argument;
}

// A negative index counts back from the end of its list as it stands when
// the face is read (-1 is the last entry so far). Whatever still lands
// below 1 addresses nothing and is kept as 0.
inline std::int32_t ResolveIndex(std::int32_t Index, std::int32_t Count)
{
    if (Index >= 0)
        return Index;
    const std::int64_t resolved = std::int64_t(Count) + 1 + Index;
    return resolved >= 1 ? static_cast<std::int32_t>(resolved) : 0;
}

// The file-name part of a name that an OBJ or MTL file gives for another
// file: what follows its last "/", "\\" or ":", so that folders and drives
// written on any system are dropped.
inline std::string_view NameInFolder(std::string_view Name)
{
    const std::size_t at = Name.find_last_of("/\\:");
    return at == std::string_view::npos ? Name : Name.substr(at + 1);
}

// The kinds of OBJ line the reader acts on.
enum class TLineKind { Other, Vertex, Normal, UV, Face, UseMaterial };

// The kind of a line by the general rule: its keyword, the first argument,
// in any case. Rest is the text after the keyword and its delimiter.
TLineKind ClassifyKeyword(std::string_view Line, std::string_view& Rest);

// The kind of a line, as ClassifyKeyword gives it, and Rest likewise.
inline TLineKind ClassifyLine(std::string_view Line, std::string_view& Rest)
{
    // The usual spellings first: a lower-case keyword at the start of the
    // line and one blank after it. What they give is what the general rule
    // gives them.
    if (Line.size() >= 2) {
        const char first = Line[0];
        if (first == 'v') {
            if (IsBlank(Line[1])) {
                Rest = Line.substr(2);
                return TLineKind::Vertex;
            }
            if (Line.size() >= 3 && IsBlank(Line[2])) {
                if (Line[1] == 'n') {
                    Rest = Line.substr(3);
                    return TLineKind::Normal;
                }
                if (Line[1] == 't') {
                    Rest = Line.substr(3);
                    return TLineKind::UV;
                }
            }
        } else if (first == 'f' && IsBlank(Line[1])) {
            Rest = Line.substr(2);
            return TLineKind::Face;
        } else if (first == '#') {
            return TLineKind::Other; // no keyword starts with "#"
        }
    }
    return ClassifyKeyword(Line, Rest);
}
