#include "kestrow_run.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

ScratchFolder::ScratchFolder() {
    char pattern[] = "/tmp/kestrow-e2e-XXXXXX";
    m_path = mkdtemp(pattern);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string ScratchFolder::Write(const std::string& name, const std::string& content) const {
    return Write(name, std::vector<uint8_t>(content.begin(), content.end()));
}

std::string ScratchFolder::Write(const std::string& name,
                                 const std::vector<uint8_t>& content) const {
    const std::string path = m_path + "/" + name;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()),
               static_cast<std::streamsize>(content.size()));
    return path;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

KestrowResult RunKestrow(const ScratchFolder& folder, const std::string& scenarioPath,
                         const std::string& script,
                         const std::function<void(const std::string&)>& onLine,
                         const std::string& extraArguments) {
    return RunKestrowWith(folder, "--simulate='" + scenarioPath + "'", script, onLine,
                          extraArguments);
}

KestrowResult RunKestrowWith(const ScratchFolder& folder, const std::string& scanner,
                             const std::string& script,
                             const std::function<void(const std::string&)>& onLine,
                             const std::string& extraArguments) {
    const std::string scriptPath = folder.Write("script.txt", script);
    const std::string errorsPath = folder.Path() + "/stderr.txt";
    const std::string command = "cd '" + folder.Path() + "' && KESTROW_SOUND=off timeout 120 '" +
                                KESTROW_EXE + "' --headless --startup-pause 0 " + scanner + " " +
                                extraArguments + " --script - < '" + scriptPath + "' 2> '" +
                                errorsPath + "'";
    KestrowResult result;
    FILE* out = popen(command.c_str(), "r");
    if (out == nullptr) {
        return result;
    }
    std::string line;
    int c;
    while ((c = std::fgetc(out)) != EOF) {
        if (c == '\n') {
            if (onLine) {
                onLine(line);
            }
            result.lines.push_back(line);
            line.clear();
        } else {
            line += static_cast<char>(c);
        }
    }
    if (!line.empty()) {
        result.lines.push_back(line);
    }
    const int status = pclose(out);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const std::vector<uint8_t> errors = ReadBytes(errorsPath);
    result.errors.assign(errors.begin(), errors.end());
    return result;
}
