// The words of a setting stored as one line of text ("udp 10110 name=AIS"):
// split at blanks, and written back so that they split the same way again.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Splits at blanks; a double-quoted part may hold blanks, and a backslash in
// it takes the next character as it is.
std::vector<std::string> SplitWords(std::string_view text);

// `word` as it splits back to itself: as it is, or in double quotes with a
// backslash before each quote and backslash in it.
std::string QuotedWord(const std::string& word);

// 'word', as a refusal quotes what was typed.
std::string Quoted(std::string_view word);
