#pragma once
// Text from files and command lines, made fit for a terminal line.
#include <string>
#include <string_view>

#pragma GCC visibility push(default)
namespace morvi {

// The text as one line that is safe to print on a terminal: line breaks, tabs, other control
// characters, invisible characters and bytes that are not UTF-8 written as \n, \t, \x1b,
// \u200b, \xff, as a text's representation shows them; everything else, backslashes
// included, unchanged.
std::string printable_text(std::string_view text);

}  // namespace morvi
#pragma GCC visibility pop
