#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mqtt/sentence_lines.h"
#include "mqtt/sentence_queue.h"
#include "mqtt/sentence_topic.h"

namespace {

using namespace tavrel::mqtt;

std::string TopicOf(std::string_view line, std::string_view topicTemplate = "nmea/<host>/<talker><type>")
{
    const auto address = AddressOf(line);
    return address ? ExpandTopic(topicTemplate, "boat1", *address) : "(none)";
}

TEST(SentenceParts, TopicsLinesAndTheBoundedQueue)
{
    EXPECT_EQ(TopicOf("$GPRMC,123519,A*6A"), "nmea/boat1/GPRMC");
    EXPECT_EQ(TopicOf("!AIVDM,1,1,,A,13u*24", "<host>/<type>/<talker>/<other>"), "boat1/VDM/AI/<other>");
    EXPECT_EQ(TopicOf("$PGRMC,1", "<talker>-<type>"), "P-GRMC");
    for (const char* notASentence : {"$GP,1", "$GPRMC", "$gp rmc,1", "GPRMC,1", "$P,1"}) {
        EXPECT_EQ(TopicOf(notASentence), "(none)") << notASentence;
    }

    SentenceLines lines;
    std::vector<std::string> seen;
    for (const std::string& piece : {std::string("$GPRMC,1"), std::string("2\r\n$GPGGA,3\n$GP"),
                                     std::string(SentenceLines::kLongestLine, 'x'), std::string("\n$GPGSV,4\r")}) {
        lines.Feed(std::span(reinterpret_cast<const unsigned char*>(piece.data()), piece.size()),
                   [&](std::string_view line) { seen.emplace_back(line); });
    }
    lines.SkipToNextLine();   // what follows "$GPGSV,4\r" was lost
    const std::string rest = "5\r\n$GPGSA,6\n";
    lines.Feed(std::span(reinterpret_cast<const unsigned char*>(rest.data()), rest.size()),
               [&](std::string_view line) { seen.emplace_back(line); });
    EXPECT_EQ(seen, (std::vector<std::string>{"$GPRMC,12", "$GPGGA,3", "$GPGSA,6"}));

    SentenceQueue queue(20);
    queue.Push({"t", "123456789", false});            // 10 bytes
    queue.Push({"t", "abcdefgh", false});             // 9
    queue.Push({"t", "XY", false});                   // 3: the oldest goes
    queue.Push({"t", std::string(30, 'z'), false});   // larger than the bound: dropped itself
    EXPECT_EQ(queue.dropped(), 2U);
    EXPECT_EQ(queue.queuedBytes(), 12U);
    EXPECT_EQ(queue.front().payload, "abcdefgh");
}

}  // namespace
