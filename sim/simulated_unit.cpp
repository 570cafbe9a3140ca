#include "sim/simulated_unit.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "sim/line_pacer.h"

namespace sim {

namespace {

using Clock = LinePacer::Clock;
using TimePoint = LinePacer::TimePoint;

constexpr auto kHangupRetry = std::chrono::milliseconds(100);

void CloseIfOpen(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

std::string SystemError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

SimulatedUnit::SimulatedUnit(const Scenario& scenario, UnitEventCallback onEvent)
    : m_responder(scenario), m_baud(scenario.baud), m_onEvent(std::move(onEvent)) {}

std::unique_ptr<SimulatedUnit> SimulatedUnit::Start(const Scenario& scenario, std::string& error,
                                                    UnitEventCallback onEvent) {
    std::unique_ptr<SimulatedUnit> unit(new SimulatedUnit(scenario, std::move(onEvent)));
    int& master = unit->m_master;
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        error = SystemError("cannot open a pseudo-terminal");
        return nullptr;
    }
    char name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        error = SystemError("cannot set up the pseudo-terminal");
        return nullptr;
    }
    unit->m_slavePath = name;
    // Raw both ways (on Linux the master's settings are the slave's): no echo,
    // no line editing, no translation of any byte.
    termios settings{};
    if (::tcgetattr(master, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::cfsetspeed(&settings, B38400);
        ::tcsetattr(master, TCSANOW, &settings);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    unit->m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (unit->m_slave < 0) {
        error = SystemError("cannot open the pseudo-terminal's slave side");
        return nullptr;
    }
    int stop[2];
    if (::pipe2(stop, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = SystemError("cannot create the stop pipe");
        return nullptr;
    }
    unit->m_stopRead = stop[0];
    unit->m_stopWrite = stop[1];
    unit->m_thread = std::thread(&SimulatedUnit::Run, unit.get());
    return unit;
}

SimulatedUnit::~SimulatedUnit() {
    Stop();
}

void SimulatedUnit::Stop() {
    if (m_thread.joinable()) {
        const char byte = 1;
        while (::write(m_stopWrite, &byte, 1) < 0 && errno == EINTR) {
        }
        m_thread.join();
    }
    CloseIfOpen(m_stopRead);
    CloseIfOpen(m_stopWrite);
    CloseIfOpen(m_slave);
    CloseIfOpen(m_master);
}

void SimulatedUnit::SetSurveyorPosition(int x, int y) {
    std::lock_guard<std::mutex> lock(m_positionMutex);
    m_position = MapPosition{x, y};
}

void SimulatedUnit::ClearSurveyorPosition() {
    std::lock_guard<std::mutex> lock(m_positionMutex);
    m_position.reset();
}

void SimulatedUnit::FollowSurveyor(std::function<bool(double& x, double& y)> where) {
    std::lock_guard<std::mutex> lock(m_positionMutex);
    m_follow = std::move(where);
}

std::optional<MapPosition> SimulatedUnit::Position() {
    std::lock_guard<std::mutex> lock(m_positionMutex);
    double x = 0;
    double y = 0;
    if (m_follow && m_follow(x, y)) {
        return MapPosition{static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y))};
    }
    return m_position;
}

void SimulatedUnit::Emit(UnitEvent::Kind kind, const WireMessage& message) {
    if (m_onEvent) {
        m_onEvent(UnitEvent{kind, message});
    }
}

// One loop serves both directions, full duplex: received bytes are timed as
// they would cross the line, answers are handed to the terminal as their last
// bit would leave the unit, and the thread sleeps in ppoll until the next of
// these moments, a byte from the host, or Stop.
void SimulatedUnit::Run() {
    // The unit stands in for hardware with a processor of its own, which a
    // busy host never holds up: ask for the highest priority, as the link's
    // threads do, and carry on without it where it is not allowed.
    sched_param param{};
    param.sched_priority = sched_get_priority_max(SCHED_FIFO);
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    struct Received {
        TimePoint due;
        WireMessage message;
    };
    struct Segment {
        TimePoint notBefore;
        Bytes bytes;
        UnitEvent event;  // reported once the first byte has left
        size_t next = 0;
    };
    LinePacer fromHost(m_baud);
    LinePacer toHost(m_baud);
    UnitFrameDecoder decoder;
    std::deque<Received> received;
    std::deque<Segment> sending;
    Bytes due;  // bytes whose line time is over, not yet taken by the terminal
    bool hungUp = false;

    while (true) {
        TimePoint now = Clock::now();
        while (!received.empty() && received.front().due <= now) {
            Received host = std::move(received.front());
            received.pop_front();
            Emit(UnitEvent::kHostMessage, host.message);
            UnitAnswer answer = m_responder.Answer(host.message, Position());
            if (answer.dropped) {
                Emit(UnitEvent::kAnswerDropped, host.message);
            }
            TimePoint start = host.due + std::chrono::milliseconds(answer.dwellMs);
            for (OutgoingMessage& out : answer.messages) {
                if (!out.garbage.empty()) {
                    sending.push_back(
                        {start, out.garbage, UnitEvent{UnitEvent::kGarbage, {0, out.garbage}}});
                }
                sending.push_back({start, EncodeUnitFrame(out.message.type, out.message.payload),
                                   UnitEvent{UnitEvent::kUnitMessage, out.message}});
            }
        }

        std::optional<TimePoint> wake;
        while (!sending.empty()) {
            Segment& segment = sending.front();
            TimePoint done = toHost.Completion(segment.notBefore);
            if (done > now) {
                wake = done;
                break;
            }
            toHost.Commit(done);
            if (segment.next == 0) {
                Emit(segment.event.kind, segment.event.message);
            }
            due.push_back(segment.bytes[segment.next++]);
            if (segment.next == segment.bytes.size()) {
                sending.pop_front();
            }
        }
        if (!due.empty() && !hungUp) {
            ssize_t n = ::write(m_master, due.data(), due.size());
            if (n > 0) {
                due.erase(due.begin(), due.begin() + n);
            }
        }
        if (!received.empty() && (!wake || received.front().due < *wake)) {
            wake = received.front().due;
        }
        if (hungUp && (!wake || now + kHangupRetry < *wake)) {
            wake = now + kHangupRetry;
        }

        pollfd fds[2] = {{m_stopRead, POLLIN, 0}, {m_master, 0, 0}};
        if (!hungUp) {
            fds[1].events = static_cast<short>(POLLIN | (due.empty() ? 0 : POLLOUT));
        } else {
            fds[1].fd = -1;
        }
        timespec timeout{};
        if (wake) {
            auto wait = std::max(Clock::duration::zero(), *wake - Clock::now());
            auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
            timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
            timeout.tv_nsec = static_cast<long>(ns % 1000000000);
        }
        if (::ppoll(fds, 2, wake ? &timeout : nullptr, nullptr) < 0 && errno != EINTR) {
            break;
        }
        if (fds[0].revents != 0) {
            break;
        }
        hungUp = false;
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            uint8_t buffer[512];
            ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                hungUp = true;  // no slave side open; try again shortly
            }
            TimePoint readAt = Clock::now();
            for (ssize_t i = 0; i < n; ++i) {
                TimePoint arrived = fromHost.Carry(readAt);
                if (decoder.Feed(buffer[i])) {
                    received.push_back({arrived, decoder.Message()});
                }
            }
        }
    }
}

}  // namespace sim
