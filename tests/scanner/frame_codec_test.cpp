#include "scanner/frame_codec.h"
#include "scanner/receive_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Encode(uint8_t type, const Bytes& payload) {
    uint8_t frame[kFrameBufferSize];
    unsigned n = EncodeFrame(type, payload.data(), static_cast<unsigned>(payload.size()), frame);
    return Bytes(frame, frame + n);
}

struct Delivered {
    uint8_t type;
    Bytes payload;
    uint8_t after;  // the byte that follows the payload in the receive buffer
    Bytes tail;     // the eight bytes after the payload
};

class RecordingSink : public MessageSink {
  public:
    std::vector<Delivered> messages;
    void OnMessage(uint8_t type, const uint8_t* payload, uint16_t length) override {
        // The buffer holds one byte past the longest payload: the tail stops there.
        size_t tailEnd = std::min<size_t>(length + 8, kReceiveBufferSize + 1);
        messages.push_back({type, Bytes(payload, payload + length), payload[length],
                            Bytes(payload + length, payload + tailEnd)});
    }
};

// Feeds a stream as the reader thread does: one-byte reads, a 0 result re-calls
// with the stale read, and the stream ends with one read that returns nothing.
// Also records every result, to check the skipped reads.
struct Reader {
    RecordingSink sink;
    uint16_t state = 0;
    std::vector<int> results;

    void Feed(const Bytes& stream, bool endWithEmptyRead = true) {
        auto step = [this](const uint8_t* bytes, int count) {
            const int wanted = ReceiveStep(state, bytes, count, sink);
            results.push_back(wanted);
            return wanted;
        };
        EXPECT_TRUE(receive_loop::FeedStream(step, stream.data(), stream.size(), endWithEmptyRead));
    }
};

TEST(EncodeFrame, BuildsTheDocumentedFrames) {
    EXPECT_EQ(Encode(1, {}), (Bytes{0x11, 0x12, 0x01, 0x11, 0x13}));
    EXPECT_EQ(Encode(2, {}), (Bytes{0x11, 0x12, 0x02, 0x11, 0x13}));
    EXPECT_EQ(Encode(3, {0x01, 0x00, 0x1C, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0, 0x3A}),
              (Bytes{0x11, 0x12, 0x03, 0x01, 0x00, 0x1C, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
                     0x00, 0x3A, 0x11, 0x13}));
    EXPECT_EQ(Encode(3, {0x11, 0x05}), (Bytes{0x11, 0x12, 0x03, 0x11, 0x14, 0x05, 0x11, 0x13}));
}

TEST(EncodeFrame, StuffsTheTypeByteAndEveryEscapeInThePayload) {
    EXPECT_EQ(Encode(0x11, {}), (Bytes{0x11, 0x12, 0x11, 0x14, 0x11, 0x13}));
    EXPECT_EQ(Encode(7, {0x11, 0x11}),
              (Bytes{0x11, 0x12, 0x07, 0x11, 0x14, 0x11, 0x14, 0x11, 0x13}));
}

TEST(EncodeFrame, RefusesAPayloadThatDoesNotFitTheBuffer) {
    uint8_t frame[kFrameBufferSize];
    Bytes fits(123, 0x00);  // 3 + 123 + 2 = 128
    EXPECT_EQ(EncodeFrame(3, fits.data(), 123, frame), 128u);
    Bytes tooLong(124, 0x00);
    EXPECT_EQ(EncodeFrame(3, tooLong.data(), 124, frame), 0u);
    Bytes stuffedTooLong(62, 0x11);  // 3 + 124 + 2
    EXPECT_EQ(EncodeFrame(3, stuffedTooLong.data(), 62, frame), 0u);
    EXPECT_EQ(EncodeFrame(0x11, fits.data(), 123, frame), 0u);  // the stuffed type costs one
}

TEST(ReceiveStep, RoundTripsEveryEncodedFrame) {
    const std::vector<std::pair<uint8_t, Bytes>> cases = {
        {0x11, {}},
        {0x05, {0x41, 0x42}},
        {0x04, {0x11, 0x11, 0x13, 0x14, 0x12, 0x00}},
        {0x13, {0x11}},
        {0xFF, Bytes(60, 0x11)}};
    for (const auto& [type, payload] : cases) {
        Reader reader;
        reader.Feed(Encode(type, payload));
        ASSERT_EQ(reader.sink.messages.size(), 1u) << int(type);
        EXPECT_EQ(reader.sink.messages[0].type, type);
        EXPECT_EQ(reader.sink.messages[0].payload, payload);
        EXPECT_EQ(reader.sink.messages[0].after, 0) << "payload is always terminated";
    }
}

TEST(ReceiveStep, EmptyPayloadReadsAsOneZeroByte) {
    Reader reader;
    reader.Feed({0x11, 0x12, 0x11, 0x14, 0x11, 0x13});
    ASSERT_EQ(reader.sink.messages.size(), 1u);
    EXPECT_EQ(reader.sink.messages[0].type, 0x11);
    EXPECT_TRUE(reader.sink.messages[0].payload.empty());
    EXPECT_EQ(reader.sink.messages[0].after, 0);
}

TEST(ReceiveStep, DeliveryIsFollowedByTwoSkippedReads) {
    Reader reader;
    reader.Feed({0x11, 0x12, 0x05, 0x41, 0x42, 0x11, 0x13}, false);
    // state 0, then one byte per call up to the delivery, then 0, 0, 1.
    EXPECT_EQ(reader.results, (std::vector<int>{1, 1, 1, 1, 1, 1, 1, 0, 0, 1}));
    ASSERT_EQ(reader.sink.messages.size(), 1u);
    EXPECT_EQ(reader.sink.messages[0].payload, (Bytes{0x41, 0x42}));
}

TEST(ReceiveStep, BackToBackFramesAreBothDelivered) {
    Bytes stream = Encode(1, {0x41});
    Bytes second = Encode(2, {0x42});
    stream.insert(stream.end(), second.begin(), second.end());
    Reader reader;
    reader.Feed(stream);
    ASSERT_EQ(reader.sink.messages.size(), 2u);
    EXPECT_EQ(reader.sink.messages[1].type, 2);
}

TEST(ReceiveStep, FramingErrorsAbandonTheFrame) {
    const std::vector<Bytes> broken = {
        {0x11, 0x12, 0x05, 0x11, 0x15},        // bad byte after an escape
        {0x11, 0x13, 0x05, 0x11, 0x13},        // second start byte missing
        {0x12, 0x05, 0x41, 0x11, 0x13},        // first start byte missing
        {0x11, 0x12, 0x05, 0x41, 0x11, 0x12},  // start marker inside the payload
    };
    for (const Bytes& stream : broken) {
        Reader reader;
        reader.Feed(stream);
        EXPECT_TRUE(reader.sink.messages.empty());
        EXPECT_EQ(reader.state, 1) << "hunting for the next start byte";
    }
}

TEST(ReceiveStep, DoubledStartByteLosesTheFrameThatFollows) {
    Reader reader;
    reader.Feed({0x11, 0x11, 0x12, 0x05, 0x41, 0x11, 0x13});
    EXPECT_TRUE(reader.sink.messages.empty());
}

TEST(ReceiveStep, MissingEndMarkerLosesBothFrames) {
    Bytes stream = {0x11, 0x12, 0x05, 0x41};  // no 11 13
    Bytes next = Encode(6, {0x42});
    stream.insert(stream.end(), next.begin(), next.end());
    Reader reader;
    reader.Feed(stream);
    EXPECT_TRUE(reader.sink.messages.empty());
}

TEST(ReceiveStep, EmptyReadAbandonsAFrameInEveryState) {
    // Stop after each prefix of a frame with an empty read, then send a whole frame:
    // only the whole frame arrives.
    const Bytes frame = Encode(0x11, {0x11, 0x41});
    for (size_t cut = 1; cut < frame.size(); ++cut) {
        Reader reader;
        reader.Feed(Bytes(frame.begin(), frame.begin() + cut));
        EXPECT_TRUE(reader.sink.messages.empty()) << cut;
        reader.Feed(frame);
        ASSERT_EQ(reader.sink.messages.size(), 1u) << cut;
        EXPECT_EQ(reader.sink.messages[0].payload, (Bytes{0x11, 0x41}));
    }
}

TEST(ReceiveStep, EmptyReadAfterAnEscapeSwallowsTheNextByte) {
    // In state 5 the reset answers 1, so the next byte is read by state 0 unexamined:
    // a frame starting right there loses its first byte.
    Reader direct;
    uint8_t b[1] = {0x11};
    direct.state = 5;
    EXPECT_EQ(ReceiveStep(direct.state, b, 0, direct.sink), 1);
    EXPECT_EQ(direct.state, 0);
    EXPECT_EQ(ReceiveStep(direct.state, b, 1, direct.sink), 1);  // 0x11 consumed unexamined
    EXPECT_EQ(direct.state, 1);
}

TEST(ReceiveStep, StaleRecallsAfterAResetDoNotExamineTheInput) {
    RecordingSink sink;
    uint16_t state = 2;
    uint8_t b[1] = {0x41};
    EXPECT_EQ(ReceiveStep(state, b, 1, sink), 0);  // not 0x12: reset
    EXPECT_EQ(state, 0);
    EXPECT_EQ(ReceiveStep(state, b, 1, sink), 1);  // same stale byte, not examined
    EXPECT_EQ(state, 1);
}

TEST(ReceiveStep, ReadsOfMoreThanOneByteAbandonTheFrame) {
    RecordingSink sink;
    uint8_t b[2] = {0x41, 0x42};
    for (uint16_t s : {3, 4, 7}) {
        uint16_t state = s;
        EXPECT_EQ(ReceiveStep(state, b, 2, sink), 0);
        EXPECT_EQ(state, 0);
    }
    uint16_t state = 5;
    EXPECT_EQ(ReceiveStep(state, b, 2, sink), 1);
    EXPECT_EQ(state, 0);
    state = 1;
    uint8_t start[2] = {0x11, 0x00};
    EXPECT_EQ(ReceiveStep(state, start, 2, sink), 1) << "states 1 and 2 only ask for a byte";
    EXPECT_EQ(state, 2);
}

TEST(ReceiveStep, PayloadOverTheBufferIsAbandonedNotOverrun) {
    Bytes stream = {0x11, 0x12, 0x04};
    stream.insert(stream.end(), kReceiveBufferSize, 0x41);
    Bytes over = stream;
    stream.insert(stream.end(), {0x11, 0x13});
    Reader full;
    full.Feed(stream);
    ASSERT_EQ(full.sink.messages.size(), 1u);
    EXPECT_EQ(full.sink.messages[0].payload.size(), kReceiveBufferSize);
    EXPECT_EQ(full.sink.messages[0].after, 0);

    over.insert(over.end(), {0x42, 0x11, 0x13});
    Reader overflow;
    overflow.Feed(over);
    EXPECT_TRUE(overflow.sink.messages.empty());

    Bytes escaped = {0x11, 0x12, 0x04};
    escaped.insert(escaped.end(), kReceiveBufferSize, 0x41);
    escaped.insert(escaped.end(), {0x11, 0x14, 0x11, 0x13});
    Reader escapedOverflow;
    escapedOverflow.Feed(escaped);
    EXPECT_TRUE(escapedOverflow.sink.messages.empty());
}

TEST(ReceiveStep, NewFrameStartsWithAZeroedBuffer) {
    Reader reader;
    reader.Feed(Encode(1, {'L', 'O', 'N', 'G', 'E', 'R'}));
    reader.Feed(Encode(1, {'A', 'B'}));
    ASSERT_EQ(reader.sink.messages.size(), 2u);
    EXPECT_EQ(reader.sink.messages[1].payload, (Bytes{'A', 'B'}));
    EXPECT_EQ(reader.sink.messages[1].tail, Bytes(8, 0)) << "no trace of the longer frame";
}

}  // namespace
