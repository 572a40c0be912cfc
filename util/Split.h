// The one tokeniser of all text input: cuts a text at the first of a set of
// delimiter characters.
#pragma once

#include <string>
#include <string_view>

// Head receives the text before the first character that occurs in
// Delimiters, with every leading and trailing byte of code 32 or less
// removed; Tail receives everything after that character, untouched (further
// delimiters included). Without a delimiter the whole text is the head and
// the tail is empty. Only the first delimiter is consumed: runs are not merged.
//
// The view form copies nothing: Head and Tail point into Text, so a reader
// can cut a line several times without allocating.
void SplitFirst(std::string_view Text, std::string_view Delimiters, std::string_view& Head,
    std::string_view& Tail);

// The string form; Text may be the same variable as Head or Tail.
void SplitFirst(
    const std::string& Text, std::string_view Delimiters, std::string& Head, std::string& Tail);

// Text with every leading and trailing byte of code 32 or less removed.
std::string_view TrimControl(std::string_view text);
