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

// Three access points heard everywhere at fixed levels, answered at once.
extern const char* const kLabScenario;
// The keep question of every open, as the script prints it.
extern const char* const kKeepQuestion;

// A 240 x 320 grey-scale floor plan: white with walls of grey `wall`.
std::vector<uint8_t> MakeSite(uint8_t wall = 90);

// Runs `kestrow --headless --startup-pause 0 <scanner> --script -` with the
// script on standard input, in the folder; `scanner` chooses the scan source
// (e.g. "--wifi-replay 'scans.dump'"), quoted by the caller. onLine sees each
// output line as it arrives (to act while the program runs); extraArguments go
// on the command line as they are (quoted by the caller); shellPrefix runs
// before kestrow in the same shell (e.g. "ulimit -f 1;").
KestrowResult RunKestrowWith(const ScratchFolder& folder, const std::string& scanner,
                             const std::string& script,
                             const std::function<void(const std::string&)>& onLine = nullptr,
                             const std::string& extraArguments = std::string(),
                             const std::string& shellPrefix = std::string());

// The same in the desktop workspace (the others run the handheld frame).
KestrowResult RunKestrowWorkspace(const ScratchFolder& folder, const std::string& scanner,
                                  const std::string& script,
                                  const std::string& extraArguments = std::string());

// The same against the simulated unit: --simulate=<scenario>.
KestrowResult RunKestrow(const ScratchFolder& folder, const std::string& scenarioPath,
                         const std::string& script,
                         const std::function<void(const std::string&)>& onLine = nullptr,
                         const std::string& extraArguments = std::string(),
                         const std::string& shellPrefix = std::string());

// The same program started directly, so a test can feed its script a piece
// at a time, wait for what it prints and send it signals.
class KestrowProcess {
  public:
    KestrowProcess(const ScratchFolder& folder, const std::string& scenarioPath);
    ~KestrowProcess();
    KestrowProcess(const KestrowProcess&) = delete;
    KestrowProcess& operator=(const KestrowProcess&) = delete;

    // Writes script lines to the program's standard input.
    void Send(const std::string& script);
    // Reads output until a line starting with `prefix` (true) or the end of
    // the output or a minute (false). Every line read is kept in Lines().
    bool WaitFor(const std::string& prefix);
    void Signal(int signo);
    // Waits for the end: the exit status, or 128 + the signal that killed it.
    int Wait();
    const std::vector<std::string>& Lines() const { return m_lines; }

  private:
    int m_pid = -1;
    int m_input = -1;
    int m_output = -1;
    std::string m_pending;
    std::vector<std::string> m_lines;
};

// Runs kestrow with `arguments` (quoted by the caller, and with any input
// redirection) from the folder; standard output and error together in `errors`.
KestrowResult RunKestrowCommand(const ScratchFolder& folder, const std::string& arguments);
