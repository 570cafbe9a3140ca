#include "scanner/wire_trace.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sstream>

namespace {

// The program's start, as near as a static can tell it.
const std::chrono::steady_clock::time_point g_programStart = std::chrono::steady_clock::now();

double SecondsSinceStart() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - g_programStart).count();
}

}  // namespace

WireTrace::~WireTrace() {
    if (m_file != nullptr) {
        std::fclose(m_file);
    }
}

bool WireTrace::Open(const std::string& path, std::string& reason) {
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (file == nullptr) {
        reason = path + ": " + std::strerror(errno);
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_file != nullptr) {
        std::fclose(m_file);
    }
    m_file = file;
    return true;
}

std::string WireTrace::FormatLine(double seconds, Direction direction, const uint8_t* bytes,
                                  size_t count) {
    std::string line(32 + 3 * count, '\0');
    int n = std::snprintf(line.data(), line.size(), "%.6f %s", seconds,
                          direction == Direction::kRx ? "rx" : "tx");
    size_t used = n > 0 ? static_cast<size_t>(n) : 0;
    static const char kHex[] = "0123456789ABCDEF";
    for (size_t i = 0; i < count; ++i) {
        line[used++] = ' ';
        line[used++] = kHex[bytes[i] >> 4];
        line[used++] = kHex[bytes[i] & 0x0F];
    }
    line.resize(used);
    return line;
}

void WireTrace::Record(Direction direction, const uint8_t* bytes, size_t count) {
    // The time is taken under the lock, so the lines of the reader and the
    // writer stay in time order.
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string line = FormatLine(SecondsSinceStart(), direction, bytes, count);
    if (m_file != nullptr) {
        std::fprintf(m_file, "%s\n", line.c_str());
        CheckWritten();
    }
}

void WireTrace::CheckWritten() {
    if (std::fflush(m_file) == 0 && !std::ferror(m_file)) {
        return;
    }
    // Said once; a trace that stops is not mistaken for a quiet line.
    std::fprintf(stderr, "kestrow: the wire trace cannot be written any more: %s\n",
                 std::strerror(errno));
    std::fclose(m_file);
    m_file = nullptr;
}

void WireTrace::Note(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_file != nullptr) {
        std::fprintf(m_file, "# %.6f %s\n", SecondsSinceStart(), text.c_str());
        CheckWritten();
    }
}

bool ParseTraceLine(const std::string& line, TraceLine& out, std::string& error) {
    error.clear();
    size_t start = line.find_first_not_of(" \t\r");
    if (start == std::string::npos || line[start] == '#') {
        return false;
    }
    std::istringstream in(line.substr(start));
    std::string seconds;
    std::string direction;
    if (!(in >> seconds >> direction)) {
        error = "expected seconds, rx or tx, and bytes";
        return false;
    }
    char* end = nullptr;
    out.seconds = std::strtod(seconds.c_str(), &end);
    if (end == seconds.c_str() || *end != '\0' || !(out.seconds >= 0)) {
        error = "'" + seconds + "' is not a time in seconds";
        return false;
    }
    if (direction == "rx") {
        out.direction = WireTrace::Direction::kRx;
    } else if (direction == "tx") {
        out.direction = WireTrace::Direction::kTx;
    } else {
        error = "'" + direction + "' is neither rx nor tx";
        return false;
    }
    out.bytes.clear();
    std::string hex;
    while (in >> hex) {
        char* hexEnd = nullptr;
        const unsigned long value = std::strtoul(hex.c_str(), &hexEnd, 16);
        if (hex.size() != 2 || *hexEnd != '\0' || value > 0xFF) {
            error = "'" + hex + "' is not a byte in hexadecimal";
            return false;
        }
        out.bytes.push_back(static_cast<uint8_t>(value));
    }
    return true;
}

Transport::OpenResult TracedTransport::Open(const std::string& name, std::string& reason) {
    const OpenResult result = m_inner->Open(name, reason);
    if (result == OpenResult::kOpened) {
        m_trace.Note("opened " + name);
    } else {
        m_trace.Note("cannot open " + name + ": " + reason);
    }
    return result;
}

int TracedTransport::Read(uint8_t* buffer, unsigned count) {
    const int n = m_inner->Read(buffer, count);
    if (n > 0) {
        m_trace.Record(WireTrace::Direction::kRx, buffer, static_cast<size_t>(n));
    }
    return n;
}

int TracedTransport::Write(const uint8_t* bytes, unsigned count) {
    const int n = m_inner->Write(bytes, count);
    if (n > 0) {
        m_trace.Record(WireTrace::Direction::kTx, bytes, static_cast<size_t>(n));
    }
    return n;
}
