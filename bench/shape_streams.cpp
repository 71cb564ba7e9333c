#include "bench/shape_streams.h"

#include "bench/merge_streams.h"

namespace tavrel::bench {
namespace {

std::string AsMultiConstellation(const std::string& sentence)
{
    return sentence.starts_with("$GPGSV") ? sentence : Retalked(sentence, "GN");
}

void Append(NmeaStream& stream, const std::string& sentence)
{
    stream.bytes.insert(stream.bytes.end(), sentence.begin(), sentence.end());
    stream.lineEnds.push_back(stream.bytes.size());
}

}  // namespace

std::string Retalked(const std::string& sentence, const std::string& talker)
{
    const std::size_t star = sentence.rfind('*');
    return NmeaSentence(talker + sentence.substr(3, star - 3), sentence[0]);
}

NmeaStream MixedStream(std::chrono::seconds length)
{
    const SourceStream gps = StreamOf(MergeSource::Gps, length);
    const SourceStream ais = StreamOf(MergeSource::Ais, length);
    NmeaStream stream;
    std::size_t g = 0;
    std::size_t a = 0;
    while (g < gps.sentences.size() || a < ais.sentences.size()) {
        const bool inGroup = a > 0 && ais.opensGroup[a - 1];
        const bool aisDone = a == ais.sentences.size();
        const bool gpsNext = g < gps.sentences.size() && !inGroup && (aisDone || gps.due[g] <= ais.due[a]);
        Append(stream, gpsNext ? AsMultiConstellation(gps.sentences[g++]) : ais.sentences[a++]);
    }
    return stream;
}

}  // namespace tavrel::bench
