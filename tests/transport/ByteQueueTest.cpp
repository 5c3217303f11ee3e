// The byte queue and the wire encodings.

#include <gtest/gtest.h>

#include <string>

#include "transport/ByteQueue.h"
#include "transport/Ticks.h"
#include "transport/TransportErrors.h"

namespace {

TIdBytes Bytes(const std::string& text) {
    return TIdBytes(text.begin(), text.end());
}

} // namespace

TEST(Buffer, FirstAppendIsAnExactCopyAndLaterOnesGrowByTheStep) {
    TIdBuffer queue;
    queue.Append(Bytes("abc"));
    EXPECT_EQ(queue.Capacity(), 3);
    queue.Append(Bytes("de"));
    EXPECT_EQ(queue.Size(), 5);
    EXPECT_EQ(queue.Capacity(), 5 + TIdBuffer::GrowthStep);
    queue.Append(Bytes("f"));
    EXPECT_EQ(queue.Capacity(), 5 + TIdBuffer::GrowthStep);
    EXPECT_EQ(queue.TakeText(), u"abcdef");
    EXPECT_EQ(queue.Capacity(), 0);
}

TEST(Buffer, ConsumingMovesTheHeadAndCompactsPastTheGrowthStep) {
    int removed = 0;
    TIdBuffer queue([&](int32_t count) { removed += count; });
    queue.Append(TIdBytes(5000, 'a'));
    queue.Append(Bytes("tail"));
    queue.Remove(2000);
    EXPECT_EQ(queue.HeadOffset(), 2000);
    const int32_t capacity = queue.Capacity();
    queue.Remove(100);
    EXPECT_EQ(queue.HeadOffset(), 0);
    EXPECT_EQ(queue.Size(), 5004 - 2100);
    EXPECT_EQ(queue.Capacity(), queue.Size() + TIdBuffer::GrowthStep);
    EXPECT_LT(queue.Capacity(), capacity);
    EXPECT_EQ(removed, 2100);
    queue.Remove(queue.Size() - 4);
    EXPECT_EQ(queue.TakeText(), u"tail");
}

TEST(Buffer, AppendAfterConsumingKeepsTheOrder) {
    TIdBuffer queue;
    queue.Append(Bytes("one\ntwo"));
    EXPECT_EQ(queue.TakeText(4), u"one\n");
    queue.Append(Bytes("\nthree"));
    EXPECT_EQ(queue.HeadOffset(), 0);
    EXPECT_EQ(queue.TakeText(), u"two\nthree");
}

TEST(Buffer, FindsPatternsFromTheStartPosition) {
    TIdBuffer queue;
    EXPECT_EQ(queue.IndexOf(Bytes("x"), 5), -1);
    queue.Append(Bytes("xxab\r\nab\r\n"));
    queue.Remove(2);
    EXPECT_EQ(queue.IndexOf(Bytes("\r\n")), 2);
    EXPECT_EQ(queue.IndexOf(Bytes("\r\n"), 3), 6);
    EXPECT_EQ(queue.IndexOf(u"ab", 1, weAscii), 4);
    EXPECT_EQ(queue.IndexOf(Bytes("\n\n")), -1);
    EXPECT_EQ(queue.IndexOf(Bytes("b\r\n!")), -1);
}

TEST(Buffer, RejectsAnEmptyPatternABadStartAndTakingTooMuch) {
    TIdBuffer queue;
    queue.Append(Bytes("abc"));
    try {
        queue.IndexOf(TIdBytes{});
        FAIL();
    } catch (const EIdException& error) {
        EXPECT_EQ(error.Message(), u"Buffer terminator must be specified.");
    }
    try {
        queue.IndexOf(Bytes("a"), 3);
        FAIL();
    } catch (const EIdException& error) {
        EXPECT_EQ(error.Message(), u"Buffer start position is invalid.");
    }
    EXPECT_THROW(queue.IndexOf(Bytes("a"), -1), EIdException);
    try {
        queue.Take(5);
        FAIL();
    } catch (const EIdNotEnoughDataInBuffer& error) {
        EXPECT_EQ(error.Message(), u"Not enough data in buffer. (5/3)");
    }
    EXPECT_EQ(queue.Size(), 3);
    EXPECT_EQ(queue.TakeText(0), u"");
    EXPECT_EQ(queue.Size(), 3);
}

TEST(WireEncoding, AsciiReplacesOtherCharactersByOneByte) {
    EXPECT_EQ(TextToBytes(u"USER \u00e5sa", weAscii), Bytes("USER ?sa"));
    EXPECT_EQ(TextToBytes(u"\u00e5", weUtf8), Bytes("\xc3\xa5"));
    EXPECT_EQ(TextToBytes(u"\u0141", weRaw8), TIdBytes{0x41});
    const TIdBytes high{0x41, 0xE5};
    EXPECT_EQ(BytesToText(high.data(), high.size(), weAscii), u"A?");
    EXPECT_EQ(BytesToText(high.data(), high.size(), weRaw8), u"A\u00e5");
    EXPECT_THROW(TextToBytes(u"x", weNone), EIdNoEncodingSpecified);
    EXPECT_THROW(BytesToText(high.data(), high.size(), weNone), EIdNoEncodingSpecified);
}

TEST(Ticks, DistanceSurvivesOneWrap) {
    EXPECT_EQ(TicksBetween(4294967295u - 5, 5), 10u);
    EXPECT_EQ(TicksBetween(5, 1005), 1000u);
    EXPECT_EQ(TicksBetween(7, 7), 0u);
}
