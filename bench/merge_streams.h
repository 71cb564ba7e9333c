// The three streams of the merge section, as the instruments of a boat send
// them: a GPS receiver at 4800 baud ($GPGGA, $GPRMC, $GPGSA, $GPGSV), an AIS
// receiver at 38400 baud (!AIVDM position reports, every eighth message a
// static and voyage report in two fragments) and a wind and depth gateway
// sending 100 sentences a second over UDP ($WIMWV, $SDDPT). Every sentence
// is well formed and carries its number in its fields, so that no two are
// alike and each one read can be told by its text alone.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrel::bench {

enum class MergeSource { Gps, Ais, Wind };
inline constexpr std::size_t kMergeSources = 3;
inline constexpr std::array<MergeSource, kMergeSources> kAllMergeSources = {MergeSource::Gps, MergeSource::Ais,
                                                                            MergeSource::Wind};

// "GPS", "AIS", "wind".
const char* NameOf(MergeSource source);

struct SourceStream {
    MergeSource source = MergeSource::Gps;
    std::vector<std::string> sentences;            // each with its CR LF
    std::vector<std::chrono::nanoseconds> due;     // after the start: when each has been sent whole
    std::vector<bool> opensGroup;                  // the first fragment of a two-fragment AIS message
};

// The sentences that `source` sends in `length`: on a serial line each is
// due once the line has carried it, at ten bits a byte; over UDP one every 10 ms.
SourceStream StreamOf(MergeSource source, std::chrono::seconds length);

// Sentence `k` (below kWarmUpSentences) of the source's warm-up: a single
// sentence that no stream of up to two hours sends.
inline constexpr std::size_t kWarmUpSentences = 1000;
std::string WarmUpSentence(MergeSource source, std::size_t k);

// The source whose talker a line starts with ("$GP", "!AI", "$WI", "$SD"); nothing for another line.
std::optional<MergeSource> TalkerSource(std::string_view line);

// "$" or "!", a body, "*", its checksum in two hex digits and CR LF.
bool WellFormedSentence(std::string_view line);

}  // namespace tavrel::bench
