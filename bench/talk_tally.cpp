#include "bench/talk_tally.h"

#include <algorithm>
#include <set>

#include "bench/talk_lines.h"

namespace tavrel::bench {
namespace {

bool IsOccasional(const TalkLineId& id, const TalkSent& sent)
{
    const auto talker = std::find(kOccasionalTalkers.begin(), kOccasionalTalkers.end(), id.talker);
    return talker != kOccasionalTalkers.end() &&
           id.number < sent.occasional[static_cast<std::size_t>(talker - kOccasionalTalkers.begin())];
}

// Takes in one line that is a talk line; false when it is one already counted.
class TalkCount {
public:
    TalkCount(const TalkSent& sent, TalkFigures& figures) : sent_(sent), figures_(figures) {}

    void Take(const TalkLineId& id, const ArrivedLine& line)
    {
        if (!seen_.insert({id.talker, id.number}).second) {
            return;
        }
        if (line.seen >= sent_.floodStart) {
            figures_.floodAllArrived += line.text.size();
            figures_.floodSeconds = std::max(figures_.floodSeconds, Seconds(line.seen - sent_.floodStart));
        }
        if (id.talker == kLatencyTalker && id.number < sent_.latencyWrites.size()) {
            figures_.latencyMillis.push_back(Milliseconds(line.seen - sent_.latencyWrites[id.number]));
        } else if (IsOccasional(id, sent_)) {
            ++figures_.occasionalWhole;
        } else if (id.talker == kFlooder) {
            figures_.floodArrived += line.text.size();
        }
    }

private:
    const TalkSent& sent_;
    TalkFigures& figures_;
    std::set<std::pair<char, std::size_t>> seen_;
};

}  // namespace

TalkFigures TallyTalk(const std::vector<ArrivedLine>& lines, const TalkSent& sent, double lineRate)
{
    TalkFigures figures;
    figures.latencySent = sent.latencyWrites.size();
    for (const std::size_t occasional : sent.occasional) {
        figures.occasionalSent += occasional;
    }
    figures.floodWritten = sent.floodWritten;
    figures.lineRate = lineRate;
    TalkCount count(sent, figures);
    for (const ArrivedLine& line : lines) {
        const auto id = TalkLineOf(line.text);
        if (id) {
            count.Take(*id, line);
        } else {
            ++figures.notWhole;
        }
    }
    return figures;
}

namespace {

double PerFloodSecond(const TalkFigures& figures, std::size_t bytes)
{
    return figures.floodSeconds > 0 ? static_cast<double>(bytes) / figures.floodSeconds : 0;
}

}  // namespace

double FloodRate(const TalkFigures& figures)
{
    return PerFloodSecond(figures, figures.floodArrived);
}

double FloodAllRate(const TalkFigures& figures)
{
    return PerFloodSecond(figures, figures.floodAllArrived);
}

}  // namespace tavrel::bench
