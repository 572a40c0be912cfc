#include "util/Split.h"

std::string_view TrimControl(std::string_view text)
{
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.remove_suffix(1);
    return text;
}

static bool IsDelimiter(char c, std::string_view delimiters)
{
    for (char d : delimiters) {
        if (c == d)
            return true;
    }
    return false;
}

void SplitFirst(std::string_view Text, std::string_view Delimiters, std::string_view& Head,
    std::string_view& Tail)
{
    // Text is a copy of the caller's view, so Head or Tail may alias it.
    // A plain scan: the delimiter sets are one or two characters, and
    // find_first_of would search the set once for every byte of the text.
    std::size_t at = 0;
    for (; at < Text.size(); ++at) {
        if (IsDelimiter(Text[at], Delimiters))
            break;
    }
    if (at == Text.size()) {
        Head = TrimControl(Text);
        Tail = std::string_view();
        return;
    }
    Head = TrimControl(Text.substr(0, at));
    Tail = Text.substr(at + 1);
}

void SplitFirst(
    const std::string& Text, std::string_view Delimiters, std::string& Head, std::string& Tail)
{
    std::string_view head, tail;
    SplitFirst(std::string_view(Text), Delimiters, head, tail);
    // Both views may point into Head or Tail themselves: copy before assigning.
    std::string newHead(head), newTail(tail);
    Head = std::move(newHead);
    Tail = std::move(newTail);
}
