// Wire framing between the handheld and the scanner unit:
//   11 12 T [14 if T == 11] payload-with-every-11-followed-by-14 11 13
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kFrameBufferSize = 128;
constexpr size_t kReceiveBufferSize = 8192;

// Builds a frame into out. Answers the frame length, or 0 (writing nothing)
// when the stuffed frame would not fit the 128-byte buffer.
unsigned EncodeFrame(uint8_t type, const uint8_t* payload, unsigned length,
                     uint8_t out[kFrameBufferSize]);

// Whatever consumes delivered messages (the scanner device, or a decoder tool).
class MessageSink {
  public:
    virtual ~MessageSink() = default;
    virtual void OnMessage(uint8_t type, const uint8_t* payload, uint16_t length) = 0;
};

// One step of the receive state machine. bytes/count are the reader's last
// read; only the first byte is examined. Answers how many bytes to read before
// the next call: 1, or 0 to call again at once with the same (stale) input.
// Delivers a complete frame to sink.OnMessage. The receive buffer, length and
// type are one module-level context: the reader thread is its only user.
int ReceiveStep(uint16_t& state, const uint8_t* bytes, int count, MessageSink& sink);

// Read-only views of the receive context, for tests and tools.
const uint8_t* ReceiveBuffer();
uint16_t ReceiveLength();
