// Runs the kestrow executable headless with a script, against the simulated
// unit, in a scratch folder of its own.
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

// Runs `kestrow --headless --startup-pause 0 --simulate=<scenario> --script -`
// with the script on standard input. onLine sees each output line as it
// arrives (to act while the program runs); extraArguments go on the command
// line as they are (quoted by the caller); fileSizeBlocks, when not 0, limits
// the size of every file the program writes to that many 512-byte blocks.
KestrowResult RunKestrow(const ScratchFolder& folder, const std::string& scenarioPath,
                         const std::string& script,
                         const std::function<void(const std::string&)>& onLine = nullptr,
                         const std::string& extraArguments = std::string(), int fileSizeBlocks = 0);

// Runs kestrow with `arguments` (quoted by the caller, and with any input
// redirection) from the folder; standard output and error together in `errors`.
KestrowResult RunKestrowCommand(const ScratchFolder& folder, const std::string& arguments);
