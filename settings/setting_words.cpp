#include "settings/setting_words.h"

std::vector<std::string> SplitWords(std::string_view text)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if (quoted && c == '\\' && at + 1 < text.size()) {
            word += text[++at];
        } else if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inWord) {
                words.push_back(std::move(word));
                word.clear();
            }
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) {
        words.push_back(std::move(word));
    }
    return words;
}

std::string QuotedWord(const std::string& word)
{
    if (!word.empty() && word.find_first_of(" \t\"\\") == std::string::npos) {
        return word;
    }
    std::string quoted = "\"";
    for (const char c : word) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + "\"";
}

// Built by appending: GCC 12 at -O3 warns falsely of "literal" + std::string.
std::string Quoted(std::string_view word)
{
    return std::string(1, '\'').append(word).append(1, '\'');
}
