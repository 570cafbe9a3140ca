#include "scanner/serial_link.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/active_drivers.h"
#include "platform/clock.h"
#include "platform/manual_reset_event.h"
#include "platform/message_box.h"
#include "scanner/receive_loop.h"
#include "scanner/serial_transport.h"

namespace {

constexpr int kLastDriverIndex = 50;
constexpr uint32_t kQueryBufferOffered = 511;  // bytes offered of the 1024-byte buffer
constexpr size_t kPnpIdSize = 256;
constexpr size_t kPortNameSize = 128;
constexpr auto kWriterWait = std::chrono::milliseconds(1000);
// How long Stop waits for a thread held up elsewhere (a message box on the
// reader thread) before leaving it to finish on its own.
constexpr auto kThreadEndWait = std::chrono::milliseconds(5000);
// Pause between attempts to get a port back that went away under the reader.
constexpr auto kReopenPause = std::chrono::milliseconds(500);

// Takes the low byte of each 16-bit character up to its terminator; cuts to
// fit the destination, which is always terminated.
void Narrow(const char16_t* wide, size_t wideCount, char* out, size_t outSize) {
    size_t i = 0;
    for (; i + 1 < outSize && i < wideCount && wide[i] != u'\0'; ++i) {
        out[i] = static_cast<char>(wide[i] & 0xFF);
    }
    out[i] = '\0';
}

// Queries a string value the way the port search does: the 1024-byte buffer,
// 511 bytes offered, narrowed into out.
bool QueryNarrow(platform::ActiveDriverTable& drivers, platform::RegistryKey key,
                 const char* valueName, char* out, size_t outSize) {
    char16_t wide[512] = {};
    uint32_t size = kQueryBufferOffered;
    if (!drivers.QueryValue(key, valueName, wide, size)) {
        return false;
    }
    Narrow(wide, kQueryBufferOffered / sizeof(char16_t), out, outSize);
    return true;
}

// The link's threads ask for the highest priority; without the right to it
// they run at the normal one.
void RaiseThreadPriority() {
    sched_param param{};
    param.sched_priority = sched_get_priority_max(SCHED_FIFO);
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

}  // namespace

struct CSerialLink::Shared {
    CScannerDevice* device = nullptr;

    // The reader is the only thread that closes or reopens the line while the
    // threads run; it does so under portMutex, which the writer holds while
    // writing. The reader reads without the lock.
    std::unique_ptr<Transport> port;
    std::mutex portMutex;
    std::atomic<bool> portOpen{false};
    std::string portName;

    std::atomic<uint8_t> stop{0};
    platform::ManualResetEvent stopEvent;  // wakes the reader's reopen pause

    // The one-frame send slot. QueueFrame fills it and sets sendEvent under
    // slotMutex; the writer takes a copy of the slot and resets the event
    // under the same lock, then writes the copy. A frame never changes while
    // it is written, a frame queued during the write is written next, and
    // QueueFrame never waits for the line (a unit that stops reading would
    // otherwise hold up the user-interface thread's sweep).
    std::mutex slotMutex;
    platform::ManualResetEvent sendEvent;
    uint8_t slot[kFrameBufferSize] = {};
    uint32_t slotLength = 0;

    std::atomic<uint32_t> lastActivity{0};
    std::atomic<uint32_t> now{0};
    std::atomic<unsigned> failedReads{0};

    platform::ManualResetEvent readerEnded;
    platform::ManualResetEvent writerEnded;

    // A USB or PC-card adapter that is plugged in again comes back under its
    // old name, and so does a symbolic link re-pointed at a new terminal. A
    // pseudo-terminal named directly never does: once its master side has
    // closed, the same name soon belongs to someone else's terminal.
    bool CanComeBack() const { return portName.compare(0, 9, "/dev/pts/") != 0; }

    // The port failed under the reader (adapter pulled, line hung up): close
    // it, wait a little, and try to open the same device again. No message:
    // the sweep's own time-out tells the surveyor the unit is not answering.
    void RecoverPort() {
        ++failedReads;
        {
            std::lock_guard<std::mutex> lock(portMutex);
            port->Close();
            portOpen = false;
        }
        if (stopEvent.Wait(kReopenPause) || stop || !CanComeBack()) {
            return;
        }
        std::lock_guard<std::mutex> lock(portMutex);
        std::string reason;
        portOpen = port->Open(portName, reason) == Transport::OpenResult::kOpened;
    }

    void ReaderThread() {
        RaiseThreadPriority();
        uint8_t readBuffer[1] = {};
        device->SetReceiveState(0);
        auto step = [this](const uint8_t* bytes, int count) {
            return device->ReceiveBytes(bytes, count);
        };
        // The machine wants one byte at a time; its first call sees no read.
        receive_loop::FeedRead(step, readBuffer, 0);
        while (!stop) {
            int count = port->IsOpen() ? port->Read(readBuffer, 1) : -1;
            if (count < 0) {
                count = 0;
                RecoverPort();
            } else if (count != 0) {
                lastActivity = now.load();
            }
            if (!stop) {
                receive_loop::FeedRead(step, readBuffer, count);
            }
            now = platform::CurrentTimeSeconds();
            if (now > lastActivity + kIdleSeconds) {
                lastActivity = now.load();
                device->OnLinkIdle();
            }
        }
        readerEnded.Set();
    }

    void WriterThread() {
        RaiseThreadPriority();
        uint8_t frame[kFrameBufferSize];
        while (!stop) {
            bool signalled = sendEvent.Wait(kWriterWait);
            uint32_t length = 0;
            {
                std::lock_guard<std::mutex> slotLock(slotMutex);
                if (signalled) {
                    length = slotLength;
                    std::memcpy(frame, slot, length);
                }
                sendEvent.Reset();
            }
            if (length != 0 && !stop) {
                std::lock_guard<std::mutex> portLock(portMutex);
                if (port->IsOpen() && port->Write(frame, length) > 0) {
                    lastActivity = now.load();
                }
            }
        }
        writerEnded.Set();
    }
};

CSerialLink::CSerialLink(CScannerDevice* device, const std::string& portOverride,
                         platform::ActiveDriverTable* drivers, bool startThreads,
                         std::unique_ptr<Transport> transport)
    : m_shared(std::make_shared<Shared>()), m_portOverride(portOverride), m_drivers(drivers) {
    m_shared->device = device;
    m_shared->port = transport ? std::move(transport) : std::make_unique<SerialTransport>();
    if (device != nullptr) {
        device->SetFrameQueue(this);
    }
    if (OpenPort() == 1 && device != nullptr && startThreads) {
        StartReader();
        StartWriter();
    }
}

CSerialLink::~CSerialLink() {
    CScannerDevice* device = m_shared->device;
    if (device != nullptr && device->GetFrameQueue() == this) {
        device->SetFrameQueue(nullptr);
    }
    Stop();
}

std::string CSerialLink::FindPortName(platform::ActiveDriverTable& drivers) {
    for (const char* prefix : {"Quatech", "Socket"}) {
        size_t prefixLength = std::strlen(prefix);
        for (int index = 0; index <= kLastDriverIndex; ++index) {
            platform::RegistryKey key;
            if (!drivers.OpenKey(platform::ActiveDriverKeyName(index), key)) {
                continue;
            }
            char pnpId[kPnpIdSize];
            char name[kPortNameSize];
            bool found = QueryNarrow(drivers, key, "PnpId", pnpId, sizeof pnpId) &&
                         std::strncmp(pnpId, prefix, prefixLength) == 0 &&
                         QueryNarrow(drivers, key, "Name", name, sizeof name);
            drivers.CloseKey(key);
            if (found) {
                return name;
            }
        }
    }
    return "COM1:";
}

uint8_t CSerialLink::OpenPort() {
    if (m_portOverride.empty()) {
        if (m_drivers != nullptr) {
            m_portName = FindPortName(*m_drivers);
        } else {
            platform::SysfsDriverTable system;
            m_portName = FindPortName(system);
        }
    } else {
        m_portName = m_portOverride;
    }

    // The boxes are shown after the port lock is let go: a box blocks until
    // it is closed. The box keeps its one fixed text; why it failed goes to
    // standard error (and, through a traced line, into the trace).
    const char* failure = nullptr;
    std::string reason;
    {
        Shared& s = *m_shared;
        std::lock_guard<std::mutex> lock(s.portMutex);
        s.portName = m_portName;
        switch (s.port->Open(m_portName, reason)) {
            case Transport::OpenResult::kOpened:
                s.portOpen = true;
                break;
            case Transport::OpenResult::kCannotOpen:
                failure = "Com Port Error";
                break;
            case Transport::OpenResult::kCannotConfigure:
                failure = "Could not SetCommState";
                break;
        }
    }
    if (failure != nullptr) {
        std::fprintf(stderr, "kestrow: scanner port %s: %s\n", m_portName.c_str(),
                     reason.empty() ? failure : reason.c_str());
        platform::MessageBox(failure, platform::kApplicationTitle, platform::kMbOk);
        return 0;
    }
    return 1;
}

int CSerialLink::StartReader() {
    if (!m_readerThread.joinable()) {
        std::shared_ptr<Shared> shared = m_shared;
        m_readerThread = std::thread([shared] { shared->ReaderThread(); });
    }
    return 1;
}

int CSerialLink::StartWriter() {
    if (!m_writerThread.joinable()) {
        std::shared_ptr<Shared> shared = m_shared;
        m_writerThread = std::thread([shared] { shared->WriterThread(); });
    }
    return 1;
}

int CSerialLink::QueueFrame(const uint8_t* bytes, unsigned length) {
    Shared& s = *m_shared;
    unsigned count = std::min<unsigned>(length, kFrameBufferSize);
    std::lock_guard<std::mutex> lock(s.slotMutex);
    std::memcpy(s.slot, bytes, count);
    s.slotLength = count;
    s.sendEvent.Set();
    return 1;
}

bool CSerialLink::FinishThread(std::thread& thread, platform::ManualResetEvent& ended) {
    if (!thread.joinable()) {
        return true;
    }
    if (thread.get_id() != std::this_thread::get_id() && ended.Wait(kThreadEndWait)) {
        thread.join();
        return true;
    }
    // Still busy (a message box open on the reader), or Stop was called from
    // the thread itself: it holds its own reference to the shared state and
    // ends by itself.
    thread.detach();
    return false;
}

void CSerialLink::Stop() {
    if (m_stopped) {
        return;
    }
    m_stopped = true;
    Shared& s = *m_shared;
    s.stop = 1;
    s.stopEvent.Set();
    s.sendEvent.Set();  // wake the writer now rather than at its next time-out

    // Both threads notice the stop flag within their longest wait (the
    // writer's second, the reader's read time-out or reopen pause).
    bool readerJoined = FinishThread(m_readerThread, s.readerEnded);
    bool writerJoined = FinishThread(m_writerThread, s.writerEnded);

    // A thread left running still uses the port; the shared state closes the
    // port when that thread lets go of it.
    if (readerJoined && writerJoined) {
        std::lock_guard<std::mutex> lock(s.portMutex);
        s.port->Close();
        s.portOpen = false;
    }
}

unsigned CSerialLink::PendingInput() {
    Shared& s = *m_shared;
    // Asked from the sweep loop while the reader may be reopening the line.
    std::lock_guard<std::mutex> lock(s.portMutex);
    return s.port->IsOpen() ? s.port->PendingInput() : 0;
}

bool CSerialLink::IsPortOpen() const {
    return m_shared->portOpen;
}

unsigned CSerialLink::FailedReads() const {
    return m_shared->failedReads;
}
