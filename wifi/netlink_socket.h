// What the nl80211 transport needs of the system, behind a seam so tests can
// stand in for the kernel: generic-netlink sockets that carry bytes both ways
// exactly as the kernel sends and receives them, the two clocks, and where
// sysfs is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace wifi {

class NetlinkSocket {
  public:
    virtual ~NetlinkSocket() = default;

    // The socket's own port (the kernel addresses its replies to it).
    virtual uint32_t Port() const = 0;
    // Subscribes to a multicast group: 0 or a negative errno.
    virtual int JoinGroup(uint32_t group) = 0;
    // Sends one message to the kernel: 0 or a negative errno.
    virtual int Send(const uint8_t* bytes, size_t size) = 0;
    // One datagram, waiting at most `timeoutMs`: its length, 0 when none came
    // in time, or a negative errno (-ENOBUFS: the socket's queue overran and
    // the kernel dropped messages meant for it). `fromPort` is the sender's
    // port: 0 for the kernel.
    virtual int Receive(int timeoutMs, std::vector<uint8_t>& datagram, uint32_t& fromPort) = 0;
};

class NetlinkSystem {
  public:
    virtual ~NetlinkSystem() = default;

    // A generic-netlink socket bound to a port of its own, asking the kernel
    // for its reasons in error replies (extended acknowledgements). Null with
    // a one-line reason when none can be opened.
    virtual std::unique_ptr<NetlinkSocket> OpenSocket(std::string& error) = 0;
    // Monotonic milliseconds (the waits), CLOCK_BOOTTIME nanoseconds (the
    // kernel's time stamps of scan results).
    virtual int64_t NowMs() = 0;
    virtual uint64_t BoottimeNs() = 0;
    // The root of sysfs: interface flags, drivers, radios and their rfkill
    // switches are read below it.
    virtual std::string SysfsRoot() const = 0;
};

// The running system's: libnl sockets, the real clocks, /sys.
std::unique_ptr<NetlinkSystem> MakeSystemNetlink();

}  // namespace wifi
