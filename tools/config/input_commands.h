// tavrel-config's inputs commands: the extra inputs merged beside the main
// one, listed, added and removed by their numbers (the main input is 0).
#pragma once

#include <string>
#include <vector>

namespace tavrel::tools {

// Runs `inputs WORDS...` (the words after "inputs"); the exit status. A
// change is stored and told to a running Tavrel through `tell`, which
// returns whether one took it.
int RunInputsCommand(const std::vector<std::string>& words, bool (*tell)(const std::u16string& registryName));

}  // namespace tavrel::tools
