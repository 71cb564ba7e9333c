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

TEST(SentenceTopic, NamesTalkerAndTypeOfStandardProprietaryAndAisSentences)
{
    EXPECT_EQ(TopicOf("$GPRMC,123519,A*6A"), "nmea/boat1/GPRMC");
    EXPECT_EQ(TopicOf("$PGRMC,1*00"), "nmea/boat1/PGRMC");
    EXPECT_EQ(TopicOf("!AIVDM,1,1,,A,13u*24", "<host>/<type>/<talker>/<type>/<other>"), "boat1/VDM/AI/VDM/<other>");
    EXPECT_EQ(TopicOf("$PGRMC,1", "<talker>-<type>"), "P-GRMC");
    EXPECT_EQ(TopicOf("$GP,1"), "(none)");
    EXPECT_EQ(TopicOf("$GPRMC"), "(none)");
    EXPECT_EQ(TopicOf("$gp rmc,1"), "(none)");
    EXPECT_EQ(TopicOf("GPRMC,1"), "(none)");
}

TEST(SentenceLines, JoinsPiecesSkipsOverlongLinesAndLinesCutByALoss)
{
    SentenceLines lines;
    std::vector<std::string> seen;
    const auto feed = [&](std::string_view text) {
        lines.Feed(std::span(reinterpret_cast<const unsigned char*>(text.data()), text.size()),
                   [&](std::string_view line) { seen.emplace_back(line); });
    };
    feed("$GPRMC,1");
    feed("2\r\n$GPGGA,3\n$GP");
    feed(std::string(SentenceLines::kLongestLine, 'x'));
    feed("\n$GPGSV,4\r");
    lines.SkipToNextLine();
    feed("5\r\n\n");
    EXPECT_EQ(seen, (std::vector<std::string>{"$GPRMC,12", "$GPGGA,3", ""}));
}

TEST(SentenceQueue, DropsTheOldestUntilANewSentenceFits)
{
    SentenceQueue queue(20);
    queue.Push({"t", "123456789", false});   // 10 bytes
    queue.Push({"t", "abcdefgh", false});    // 9 bytes
    queue.Push({"t", "XY", false});          // 3: the first goes
    EXPECT_EQ(queue.dropped(), 1U);
    EXPECT_EQ(queue.queuedBytes(), 12U);
    queue.Push({"t", std::string(30, 'z'), false});   // larger than the bound: itself dropped
    EXPECT_EQ(queue.dropped(), 2U);
    EXPECT_EQ(queue.front().payload, "abcdefgh");
    queue.pop();
    EXPECT_EQ(queue.front().payload, "XY");
    queue.pop();
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(queue.queuedBytes(), 0U);
}

}  // namespace
