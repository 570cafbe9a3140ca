// The scan helper: kscan, run as a child process to start (and abort) scans
// for a program the kernel does not let start them itself. Giving the small
// kscan the CAP_NET_ADMIN capability once lets every Kestrow tool scan,
// without giving the whole window program a capability.
//
//   kscan --trigger-scan --iface IFACE [--passive] [--frequencies F,F,...] [--no-colocated]
//   kscan --abort-scan --iface IFACE
//
// The helper prints one line, "0" or the kernel's negative errno and its
// reason ("-16 Device or resource busy"), and exits 0 or 1.
#pragma once

#include <memory>
#include <string>

#include "wifi/scan_transport.h"

namespace wifi {

// The helper at `path`; an empty path looks for kscan beside the running
// program, then on PATH.
std::unique_ptr<TriggerHelper> MakeKscanHelper(const std::string& path = std::string());

}  // namespace wifi
