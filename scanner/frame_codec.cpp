#include "scanner/frame_codec.h"

#include <cstring>

#include "scanner/wire_protocol.h"

namespace {

using wire::kEnd;
using wire::kEscape;
using wire::kLiteral;
using wire::kStart;

enum ReceiveState : uint16_t {
    kReset = 0,
    kAwaitStart1 = 1,
    kAwaitStart2 = 2,
    kAwaitType = 3,
    kPayload = 4,
    kAfterEscape = 5,
    kDelivered = 6,
    kAfterEscapedType = 7,
};

// One byte more than a payload may fill, always 0, so every payload is terminated.
uint8_t g_rxBuffer[kReceiveBufferSize + 1];
uint16_t g_rxLength;
uint8_t g_rxType;

// Appends one payload byte; false when the buffer is full, and the frame is abandoned.
bool AppendPayloadByte(uint8_t byte) {
    if (g_rxLength >= kReceiveBufferSize) {
        return false;
    }
    g_rxBuffer[g_rxLength++] = byte;
    return true;
}

}  // namespace

unsigned EncodeFrame(uint8_t type, const uint8_t* payload, unsigned length,
                     uint8_t out[kFrameBufferSize]) {
    unsigned needed = 3 + (type == kEscape ? 1 : 0) + 2;
    for (unsigned i = 0; i < length; ++i) {
        needed += payload[i] == kEscape ? 2 : 1;
        if (needed > kFrameBufferSize) {
            return 0;
        }
    }
    if (needed > kFrameBufferSize) {
        return 0;
    }
    unsigned pos = 0;
    out[pos++] = kEscape;
    out[pos++] = kStart;
    out[pos++] = type;
    if (type == kEscape) {
        out[pos++] = kLiteral;
    }
    for (unsigned i = 0; i < length; ++i) {
        out[pos++] = payload[i];
        if (payload[i] == kEscape) {
            out[pos++] = kLiteral;
        }
    }
    out[pos++] = kEscape;
    out[pos++] = kEnd;
    return pos;
}

int ReceiveStep(uint16_t& state, const uint8_t* bytes, int count, MessageSink& sink) {
    const bool present = count != 0;
    const bool one = count == 1;
    const uint8_t byte = present ? bytes[0] : 0;

    switch (state) {
        case kReset:
            g_rxLength = 0;
            std::memset(g_rxBuffer, 0, sizeof g_rxBuffer);
            state = kAwaitStart1;
            return 1;
        case kAwaitStart1:
            if (present && byte == kEscape) {
                state = kAwaitStart2;
                return 1;
            }
            break;
        case kAwaitStart2:
            if (present && byte == kStart) {
                state = kAwaitType;
                return 1;
            }
            break;
        case kAwaitType:
            if (one) {
                g_rxType = byte;
                state = byte == kEscape ? kAfterEscapedType : kPayload;
                return 1;
            }
            break;
        case kPayload:
            if (one && byte == kEscape) {
                state = kAfterEscape;
                return 1;
            }
            if (one && AppendPayloadByte(byte)) {
                return 1;
            }
            break;
        case kAfterEscape:
            if (!one) {
                state = kReset;
                return 1;
            }
            if (byte == kEnd) {
                state = kDelivered;
                sink.OnMessage(g_rxType, g_rxBuffer, g_rxLength);
                return 0;
            }
            if (byte == kLiteral && AppendPayloadByte(kEscape)) {
                state = kPayload;
                return 1;
            }
            break;
        case kAfterEscapedType:
            if (one) {
                state = kPayload;
                return 1;
            }
            break;
        default:  // kDelivered, and any value the machine never sets
            break;
    }
    state = kReset;
    return 0;
}

const uint8_t* ReceiveBuffer() {
    return g_rxBuffer;
}
uint16_t ReceiveLength() {
    return g_rxLength;
}
