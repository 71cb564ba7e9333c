// Dialog templates: the published binary layout, written and read back, and
// the reader's refusal of malformed templates without reading past their end.
#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <vector>

#include "platform/resources.h"

namespace {

using platform::DialogTemplateWriter;
using platform::ReadDialogTemplate;
using Item = DialogTemplateWriter::Item;

constexpr std::size_t kTrust = std::numeric_limits<std::size_t>::max();

// Templates are made of 16-bit units throughout; this lays them out
// little-endian, as on the device.
std::vector<BYTE> Words(std::initializer_list<WORD> words)
{
    std::vector<BYTE> bytes;
    for (const WORD word : words) {
        bytes.push_back(static_cast<BYTE>(word & 0xFF));
        bytes.push_back(static_cast<BYTE>(word >> 8));
    }
    return bytes;
}

DialogTemplateWriter SampleWriter()
{
    DialogTemplateWriter writer(WS_POPUP, WS_EX_CAPTIONOKBTN, 1, 2, 30, 40, u"Hi");
    writer.Font(8, u"Ab")
        .Add(Item{7, u"button", u"OK", std::nullopt, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 3, 4, 5, 6})
        .Add(Item{0xFFFF, u"STATIC", u"", WORD{101}, SS_ICON | WS_CHILD | WS_VISIBLE, 0, 7, 7, 20, 20})
        .Add(Item{9, u"MyClass", u"", std::nullopt, WS_CHILD, 0x20, 0, 0, 1, 1});
    return writer;
}

// SampleWriter's template, assembled by hand from the published layout.
const std::vector<BYTE> kSampleBytes = Words({
    // DLGTEMPLATE: style (WS_POPUP | DS_SETFONT), extended style, 3 items, x, y, cx, cy
    0x0040, 0x8000, 0x0000, 0x8000, 3, 1, 2, 30, 40,
    0x0000, 0x0000,               // no menu, the predefined dialog class
    u'H', u'i', 0,                // caption
    8, u'A', u'b', 0,             // point size and face (DS_SETFONT); ends at byte 36
    // item 1 at byte 36: style, extended style, x, y, cx, cy, id
    0x0000, 0x5001, 0, 0, 3, 4, 5, 6, 7,
    0xFFFF, 0x0080,               // class: Button atom
    u'O', u'K', 0,                // text
    0,                            // no creation data; ends at byte 66
    0,                            // padding to the DWORD boundary at 68
    // item 2 at byte 68
    0x0003, 0x5000, 0, 0, 7, 7, 20, 20, 0xFFFF,
    0xFFFF, 0x0082,               // class: Static atom
    0xFFFF, 101,                  // text: the ordinal of icon 101
    0,                            // ends at byte 96, already aligned
    // item 3 at byte 96
    0x0000, 0x4000, 0x0020, 0, 0, 0, 1, 1, 9,
    u'M', u'y', u'C', u'l', u'a', u's', u's', 0,   // class by name
    0,                            // empty text
    0,                            // no creation data; the template ends here
});

TEST(DialogTemplateWriter, WritesThePublishedLayoutByteForByte)
{
    EXPECT_EQ(SampleWriter().Bytes(), kSampleBytes);
}

TEST(DialogTemplateWriter, WithoutAFontThereIsNoFontBlock)
{
    DialogTemplateWriter writer(WS_POPUP | WS_CAPTION, 0, 0, 0, 10, 10, u"");
    EXPECT_EQ(writer.Bytes(), Words({0x0000, 0x80C0, 0, 0, 0, 0, 0, 10, 10, 0, 0, 0}));
}

TEST(DialogTemplateWriter, RefusesMoreControlsThanTheCountCanHold)
{
    DialogTemplateWriter writer(WS_POPUP, 0, 0, 0, 10, 10, u"Full");
    const Item item{1, u"BUTTON", u"", std::nullopt, WS_CHILD, 0, 0, 0, 1, 1};
    for (int i = 0; i < 0xFFFF; ++i) {
        writer.Add(item);
    }
    EXPECT_THROW(writer.Add(item), std::length_error);
}

TEST(ReadDialogTemplate, ReadsEveryFieldBackWithClassNamesInCapitals)
{
    const auto content = ReadDialogTemplate(kSampleBytes.data(), kSampleBytes.size());
    ASSERT_TRUE(content.has_value());
    EXPECT_EQ(content->style, WS_POPUP | DS_SETFONT);
    EXPECT_EQ(content->exStyle, WS_EX_CAPTIONOKBTN);
    EXPECT_EQ(content->x, 1);
    EXPECT_EQ(content->y, 2);
    EXPECT_EQ(content->cx, 30);
    EXPECT_EQ(content->cy, 40);
    EXPECT_EQ(content->caption, u"Hi");
    EXPECT_EQ(content->pointSize, 8);
    EXPECT_EQ(content->face, u"Ab");
    const std::vector<Item> expected = {
        Item{7, u"BUTTON", u"OK", std::nullopt, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 3, 4, 5, 6},
        Item{0xFFFF, u"STATIC", u"", WORD{101}, SS_ICON | WS_CHILD | WS_VISIBLE, 0, 7, 7, 20, 20},
        Item{9, u"MyClass", u"", std::nullopt, WS_CHILD, 0x20, 0, 0, 1, 1},
    };
    EXPECT_EQ(content->items, expected);
}

TEST(ReadDialogTemplate, TrustsTheTemplateWhenTheSizeIsUnknown)
{
    const auto trusted = ReadDialogTemplate(kSampleBytes.data(), kTrust);
    ASSERT_TRUE(trusted.has_value());
    EXPECT_EQ(trusted->items, ReadDialogTemplate(kSampleBytes.data(), kSampleBytes.size())->items);
    EXPECT_FALSE(ReadDialogTemplate(nullptr, kTrust).has_value());
}

TEST(ReadDialogTemplate, SkipsMenuDialogClassAndCreationData)
{
    const std::vector<BYTE> bytes = Words({
        0x0000, 0x8000, 0, 0, 2, 0, 0, 50, 50,   // WS_POPUP, no font, 2 items
        0xFFFF, 12,                              // menu by ordinal
        u'M', u'y', 0,                           // dialog class by name
        u'C', 0,                                 // caption; ends at byte 32
        0x0000, 0x5000, 0, 0, 1, 2, 3, 4, 21, 0xFFFF, 0x0081, u'e', 0,
        6, 0xAAAA, 0xBBBB,                       // creation data, its size counting the size WORD; ends at 64
        0x0000, 0x5000, 0, 0, 5, 6, 7, 8, 22, 0xFFFF, 0x0085, 0, 0,
    });
    const auto content = ReadDialogTemplate(bytes.data(), bytes.size());
    ASSERT_TRUE(content.has_value());
    EXPECT_EQ(content->caption, u"C");
    EXPECT_EQ(content->pointSize, 0);
    EXPECT_EQ(content->face, u"");
    const std::vector<Item> expected = {
        Item{21, u"EDIT", u"e", std::nullopt, WS_CHILD | WS_VISIBLE, 0, 1, 2, 3, 4},
        Item{22, u"COMBOBOX", u"", std::nullopt, WS_CHILD | WS_VISIBLE, 0, 5, 6, 7, 8},
    };
    EXPECT_EQ(content->items, expected);
}

TEST(ReadDialogTemplate, RefusesEveryTruncationWithoutReadingPastTheEnd)
{
    // Each prefix sits in a block of exactly its own size, so that a read
    // past the end is caught by AddressSanitizer.
    for (std::size_t size = 0; size < kSampleBytes.size(); ++size) {
        const std::vector<BYTE> prefix(kSampleBytes.begin(), kSampleBytes.begin() + static_cast<long>(size));
        EXPECT_FALSE(ReadDialogTemplate(prefix.data(), size).has_value()) << "size " << size;
    }
    const std::vector<BYTE> whole(kSampleBytes);
    EXPECT_TRUE(ReadDialogTemplate(whole.data(), whole.size()).has_value());
}

TEST(ReadDialogTemplate, RefusesExtendedUnknownAtomAndBadCreationData)
{
    std::vector<BYTE> extended = kSampleBytes;
    extended[0] = 0x01;   // dlgVer 1
    extended[1] = 0x00;
    extended[2] = 0xFF;   // signature 0xFFFF
    extended[3] = 0xFF;
    EXPECT_FALSE(ReadDialogTemplate(extended.data(), extended.size()).has_value());

    std::vector<BYTE> unknownAtom = kSampleBytes;
    unknownAtom[56] = 0x86;   // item 1's class atom, one past the predefined ones
    EXPECT_FALSE(ReadDialogTemplate(unknownAtom.data(), unknownAtom.size()).has_value());

    std::vector<BYTE> creationData = kSampleBytes;
    creationData[64] = 1;   // item 1's creation data size: too small to count itself
    EXPECT_FALSE(ReadDialogTemplate(creationData.data(), creationData.size()).has_value());
    creationData[64] = 0xFF;   // more creation data than the template holds
    creationData[65] = 0x7F;
    EXPECT_FALSE(ReadDialogTemplate(creationData.data(), creationData.size()).has_value());
}

TEST(ReadDialogTemplate, DamagedTemplatesNeverReadPastTheEnd)
{
    // Every single-byte change of the sample, each in an exactly sized block.
    // Whatever comes back must have as many items as the header counts.
    for (std::size_t at = 0; at < kSampleBytes.size(); ++at) {
        for (const BYTE value : {BYTE{0x00}, BYTE{0x01}, BYTE{0x7F}, BYTE{0xFF}}) {
            std::vector<BYTE> damaged(kSampleBytes);
            damaged[at] = value;
            const auto content = ReadDialogTemplate(damaged.data(), damaged.size());
            if (content) {
                const std::size_t count = damaged[8] | static_cast<std::size_t>(damaged[9]) << 8;
                EXPECT_EQ(content->items.size(), count) << "byte " << at << " = " << int{value};
            }
        }
    }
}

}  // namespace
