#include "app/termination.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace termination {

namespace {

int g_pipe[2] = {-1, -1};
std::atomic<int> g_pending{0};

// Async-signal-safe: an atomic store and one write.
void OnSignal(int signo) {
    const int saved = errno;
    g_pending.store(signo);
    const char byte = static_cast<char>(signo);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

bool Install(std::string& error) {
    if (g_pipe[0] >= 0) {
        return true;
    }
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::string("cannot create a pipe: ") + std::strerror(errno);
        return false;
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signo : {SIGTERM, SIGHUP}) {
        if (::sigaction(signo, &action, nullptr) != 0) {
            error = std::string("cannot handle a signal: ") + std::strerror(errno);
            return false;
        }
    }
    return true;
}

int WakeFd() {
    return g_pipe[0];
}

int Pending() {
    return g_pending.load();
}

}  // namespace termination

InterruptibleInput::int_type InterruptibleInput::underflow() {
    if (gptr() < egptr()) {
        return traits_type::to_int_type(*gptr());
    }
    while (true) {
        if (termination::Pending() != 0) {
            return traits_type::eof();
        }
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {termination::WakeFd(), POLLIN, 0}};
        const nfds_t count = fds[1].fd >= 0 ? 2 : 1;
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return traits_type::eof();
        }
        if (count == 2 && (fds[1].revents & POLLIN) != 0) {
            continue;  // the signal is pending now
        }
        const ssize_t n = ::read(m_fd, m_buffer, sizeof m_buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            return traits_type::eof();
        }
        setg(m_buffer, m_buffer, m_buffer + n);
        return traits_type::to_int_type(*gptr());
    }
}
