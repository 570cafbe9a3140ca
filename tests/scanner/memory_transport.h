// A line in memory under the serial link: what the link writes is kept for
// the test, what the test feeds is read by the link. The test keeps a handle
// on the shared state; the link owns the transport.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "scanner/transport.h"

class MemoryTransport final : public Transport {
  public:
    struct Line {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<uint8_t> toHost;
        std::vector<uint8_t> fromHost;
        bool refuseOpen = false;
        bool open = false;

        void Feed(const std::vector<uint8_t>& bytes) {
            std::lock_guard<std::mutex> lock(mutex);
            toHost.insert(toHost.end(), bytes.begin(), bytes.end());
            changed.notify_all();
        }
        // Waits until what the host has written ends with `tail`; answers all of it.
        std::vector<uint8_t> WrittenUpTo(const std::vector<uint8_t>& tail) {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait_for(lock, std::chrono::seconds(5), [&] {
                return fromHost.size() >= tail.size() &&
                       std::equal(tail.begin(), tail.end(), fromHost.end() - tail.size());
            });
            return fromHost;
        }
    };

    explicit MemoryTransport(std::shared_ptr<Line> line) : m_line(std::move(line)) {}

    OpenResult Open(const std::string&, std::string& reason) override {
        std::lock_guard<std::mutex> lock(m_line->mutex);
        if (m_line->refuseOpen) {
            reason = "Permission denied: add yourself to the dialout group";
            return OpenResult::kCannotOpen;
        }
        m_line->open = true;
        return OpenResult::kOpened;
    }
    void Close() override {
        std::lock_guard<std::mutex> lock(m_line->mutex);
        m_line->open = false;
    }
    bool IsOpen() const override {
        std::lock_guard<std::mutex> lock(m_line->mutex);
        return m_line->open;
    }
    int Read(uint8_t* buffer, unsigned count) override {
        std::unique_lock<std::mutex> lock(m_line->mutex);
        m_line->changed.wait_for(lock, std::chrono::milliseconds(50),
                                 [&] { return !m_line->toHost.empty(); });
        unsigned n = 0;
        for (; n < count && !m_line->toHost.empty(); ++n) {
            buffer[n] = m_line->toHost.front();
            m_line->toHost.pop_front();
        }
        return static_cast<int>(n);
    }
    int Write(const uint8_t* bytes, unsigned count) override {
        std::lock_guard<std::mutex> lock(m_line->mutex);
        m_line->fromHost.insert(m_line->fromHost.end(), bytes, bytes + count);
        m_line->changed.notify_all();
        return static_cast<int>(count);
    }

  private:
    std::shared_ptr<Line> m_line;
};
