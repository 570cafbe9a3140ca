// The reader's side of the receive machine, written once for the serial
// link, the decoder tool, the fuzzer and the tests. The machine looks at one
// read at a time and answers how many bytes it wants next; an answer of 0
// asks to be called again at once with the same, now stale, read.
#pragma once

#include <cstddef>
#include <cstdint>

namespace receive_loop {

// More calls than any path of the machine needs before it asks for input.
constexpr int kMaxCallsPerRead = 4;

// Hands one read (count bytes at `bytes`; 0 for a read that returned
// nothing) to `step`, a callable (const uint8_t*, int) -> int such as the
// device's ReceiveBytes, calling it again while it answers 0. Answers true
// once the machine asks for input, false if it did not within
// kMaxCallsPerRead calls (a broken machine).
template <typename Step>
bool FeedRead(Step&& step, const uint8_t* bytes, int count) {
    for (int calls = 0; calls < kMaxCallsPerRead; ++calls) {
        if (step(bytes, count) != 0) {
            return true;
        }
    }
    return false;
}

// A captured stream as the reader thread meets it: the machine's first call
// (no read yet), one read of one byte each, and, with endWithEmptyRead, one
// read that returns nothing at the end. Answers false as FeedRead does.
template <typename Step>
bool FeedStream(Step&& step, const uint8_t* data, size_t size, bool endWithEmptyRead = true) {
    uint8_t byte = 0;
    if (!FeedRead(step, &byte, 0)) {
        return false;
    }
    for (size_t i = 0; i < size; ++i) {
        byte = data[i];
        if (!FeedRead(step, &byte, 1)) {
            return false;
        }
    }
    return !endWithEmptyRead || FeedRead(step, &byte, 0);
}

}  // namespace receive_loop
