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

// The next argument of a keyword line: the text up to the next blank or tab,
// trimmed. Two delimiters in a row give an empty argument.
inline std::string_view NextArgument(std::string_view& Rest)
{
    std::string_view head;
    SplitFirst(Rest, Blanks, head, Rest);
    return head;
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

// The kinds of OBJ line the reader acts on.
enum class TLineKind { Other, Vertex, Normal, UV, Face, UseMaterial };

// The kind of a line by the general rule: its keyword, up to the first blank
// or tab, in any case. Rest is the text after the keyword and its delimiter.
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
