// SIGTERM and SIGHUP (a logout, a closed terminal, a service manager) end
// the program cleanly. The handler only writes the signal's number into a
// pipe; the UI thread reads it (a QSocketNotifier in the event loop, or the
// script reader while it waits for a line) and ends the program there.
#pragma once

#include <streambuf>
#include <string>

namespace termination {

// Installs the handlers, once. SIGXFSZ is ignored as well: a file-size
// limit makes a write fail with its reason instead of ending the program.
bool Install(std::string& error);

// The end of the pipe that becomes readable when a signal arrived; -1
// before Install.
int WakeFd();

// The signal that arrived, or 0; it stays pending once taken.
int Pending();

}  // namespace termination

// Reads a script from a file descriptor, line by line as it is needed; when
// a termination signal arrives while it waits, the script ends there.
class InterruptibleInput : public std::streambuf {
  public:
    explicit InterruptibleInput(int fd) : m_fd(fd) {}

  protected:
    int_type underflow() override;

  private:
    int m_fd;
    char m_buffer[4096];
};
