// Runs the kestrow executable headless with a script, against the simulated
// unit or replayed Wi-Fi scans, in a scratch folder of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct KestrowResult {
    int status = -1;
    std::vector<std::string> lines;  // standard output, line by line
    std::string errors;              // standard error
};

class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    const std::string& Path() const { return m_path; }
    // Writes a file inside the folder and answers its full path.
    std::string Write(const std::string& name, const std::string& content) const;
    std::string Write(const std::string& name, const std::vector<uint8_t>& content) const;

  private:
    std::string m_path;
};

std::vector<uint8_t> ReadBytes(const std::string& path);

// Runs `kestrow --headless --startup-pause 0 <scanner> --script -` with the
// script on standard input, in the folder; `scanner` chooses the scan source
// (e.g. "--wifi-replay 'scans.dump'"), quoted by the caller. onLine sees each
// output line as it arrives (to act while the program runs); extraArguments go
// on the command line as they are (quoted by the caller).
KestrowResult RunKestrowWith(const ScratchFolder& folder, const std::string& scanner,
                             const std::string& script,
                             const std::function<void(const std::string&)>& onLine = nullptr,
                             const std::string& extraArguments = std::string());

// The same against the simulated unit: --simulate=<scenario>.
KestrowResult RunKestrow(const ScratchFolder& folder, const std::string& scenarioPath,
                         const std::string& script,
                         const std::function<void(const std::string&)>& onLine = nullptr,
                         const std::string& extraArguments = std::string());
