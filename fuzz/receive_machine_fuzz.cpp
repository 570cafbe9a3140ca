// Feeds an arbitrary byte stream to the receive state machine the way the
// serial reader thread does. Input bytes are read in pairs: the first byte's
// low bits choose the read count (0, 1 or 2 bytes), so empty and over-long
// reads are explored as well as plain one-byte reads.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "scanner/frame_codec.h"
#include "scanner/receive_loop.h"
#include "scanner/wire_protocol.h"

namespace {

class CheckingSink : public MessageSink {
  public:
    void OnMessage(uint8_t, const uint8_t* payload, uint16_t length) override {
        if (length > kReceiveBufferSize || payload != ReceiveBuffer() || payload[length] != 0) {
            std::abort();
        }
        // Touch every byte so ASan checks the whole delivered range.
        volatile uint8_t sum = 0;
        for (uint16_t i = 0; i < length; ++i) {
            sum = static_cast<uint8_t>(sum + payload[i]);
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckingSink sink;
    uint16_t state = 0;
    auto step = [&](const uint8_t* bytes, int count) {
        const int wanted = ReceiveStep(state, bytes, count, sink);
        if (state > 7) {
            std::abort();
        }
        return wanted;
    };
    uint8_t buffer[2] = {0, 0};
    int last = 0;
    size_t pos = 0;
    while (true) {
        // The machine must ask for input again within a few calls.
        if (!receive_loop::FeedRead(step, buffer, last)) {
            std::abort();
        }
        if (pos >= size) {
            break;
        }
        uint8_t control = data[pos++];
        last = (control & 0x0F) == 0 ? 0 : ((control & 0x0F) == 1 ? 2 : 1);
        for (int i = 0; i < last; ++i) {
            buffer[i] = pos < size ? data[pos++] : 0;
        }
        if (last == 1 && (control & 0x80)) {
            // Bias toward the framing bytes so deep states are reached often.
            buffer[0] = static_cast<uint8_t>(wire::kEscape + (control & 0x03));
        }
    }
    return 0;
}
