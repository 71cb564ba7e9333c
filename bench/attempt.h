// One measured run on a fresh relay and a fresh input, in a temporary
// folder: a run that fails is recorded with its reason and the end of the
// relay's log, and the benchmark goes on.
#pragma once

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bench/input_line.h"
#include "bench/relay.h"
#include "testkit/temp_folder.h"

namespace tavrel::bench {

using RelayMaker = std::function<std::unique_ptr<Relay>(const std::filesystem::path& folder, const InputLine& input)>;

// The last lines of a relay's log, to say why a run failed: " (log: / a / b / c)", or "" for none.
std::string LogTail(const std::filesystem::path& log);

template <typename Figures>
std::optional<Figures> Attempt(const RelayMaker& make, const std::function<Figures(Relay&, const InputLine&)>& measure,
                               std::string& failure)
{
    const testing::TempFolder folder;
    const InputLine input;
    std::unique_ptr<Relay> relay;
    try {
        relay = make(folder.path(), input);
        return measure(*relay, input);
    } catch (const std::exception& error) {
        failure = error.what() + (relay ? LogTail(relay->log()) : "");
        return std::nullopt;
    }
}

// `relays` in the order of this turn, rotated by one each turn, so that none always goes first.
template <typename Kind>
std::vector<Kind> InTurn(std::vector<Kind> relays, std::size_t turn)
{
    if (!relays.empty()) {
        std::rotate(relays.begin(), relays.begin() + static_cast<std::ptrdiff_t>(turn % relays.size()), relays.end());
    }
    return relays;
}

}  // namespace tavrel::bench
