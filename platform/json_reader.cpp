#include "platform/json_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>

#include "platform/text.h"

namespace platform {

namespace {

// Builds the value as nlohmann's own DOM parser does, but never throws: a
// problem (a syntax error, a number out of range, trailing bytes) is kept
// with the byte position where it was met, and nesting deeper than
// kMaxJsonDepth stops the parse before the recursion grows.
class CheckedSax {
  public:
    explicit CheckedSax(Json& root) : m_dom(root, false) {}

    bool null() { return m_dom.null(); }
    bool boolean(bool v) { return m_dom.boolean(v); }
    bool number_integer(Json::number_integer_t v) { return m_dom.number_integer(v); }
    bool number_unsigned(Json::number_unsigned_t v) { return m_dom.number_unsigned(v); }
    bool number_float(Json::number_float_t v, const Json::string_t& s) {
        return m_dom.number_float(v, s);
    }
    bool string(Json::string_t& v) { return m_dom.string(v); }
    bool binary(Json::binary_t& v) { return m_dom.binary(v); }
    bool start_object(std::size_t n) { return Deeper() && m_dom.start_object(n); }
    bool key(Json::string_t& v) { return m_dom.key(v); }
    bool end_object() {
        --m_depth;
        return m_dom.end_object();
    }
    bool start_array(std::size_t n) { return Deeper() && m_dom.start_array(n); }
    bool end_array() {
        --m_depth;
        return m_dom.end_array();
    }
    template <class Exception>
    bool parse_error(std::size_t position, const std::string&, const Exception& ex) {
        m_position = position;
        if (m_problem.empty()) {
            m_problem = Plain(ex.what());
        }
        return false;
    }

    const std::string& ProblemText() const { return m_problem; }
    bool HasPosition() const { return m_position != std::string::npos; }
    std::size_t Position() const { return m_position; }

  private:
    bool Deeper() {
        if (++m_depth > kMaxJsonDepth) {
            return Problem("nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
        }
        return true;
    }
    bool Problem(std::string text) {
        if (m_problem.empty()) {
            m_problem = std::move(text);
        }
        return false;
    }
    // "[json.exception.parse_error.101] parse error at line 1, column 4:
    // syntax error ..." -> "syntax error ..." (the position is added anew).
    static std::string Plain(std::string what) {
        const size_t tag = what.find("] ");
        if (tag != std::string::npos) {
            what = what.substr(tag + 2);
        }
        const size_t at = what.find(": ");
        if (what.rfind("parse error", 0) == 0 && at != std::string::npos) {
            what = what.substr(at + 2);
        }
        return what;
    }

    nlohmann::detail::json_sax_dom_parser<Json> m_dom;
    int m_depth = 0;
    std::string m_problem;
    std::size_t m_position = std::string::npos;
};

std::string LineAndColumn(const std::string& text, std::size_t position) {
    // nlohmann counts the characters read, the offending one included.
    const std::size_t end = std::min(position == 0 ? 0 : position - 1, text.size());
    size_t line = 1;
    size_t lineStart = 0;
    for (size_t i = 0; i < end; ++i) {
        if (text[i] == '\n') {
            ++line;
            lineStart = i + 1;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(end - lineStart + 1);
}

}  // namespace

bool ParseJson(const std::string& text, const std::string& name, Json& out, std::string& error) {
    const std::string where = name.empty() ? "" : name + ": ";
    // The parser takes a zero byte for the end of the text, and a JSON text
    // never holds one (not even inside a string).
    const size_t zero = text.find('\0');
    if (zero != std::string::npos) {
        error = where + LineAndColumn(text, zero + 1) + ": a zero byte, not JSON text";
        return false;
    }
    Json root;
    CheckedSax sax(root);
    bool ok = false;
    try {
        ok = Json::sax_parse(text.begin(), text.end(), &sax);
    } catch (const std::exception& e) {  // memory, or a library fault: never past here
        error = where + "cannot be read as JSON: " + e.what();
        return false;
    }
    if (!ok || !sax.ProblemText().empty()) {
        const std::string at = sax.HasPosition() ? LineAndColumn(text, sax.Position()) + ": " : "";
        error = where + at + (sax.ProblemText().empty() ? "not valid JSON" : sax.ProblemText());
        return false;
    }
    out = std::move(root);
    return true;
}

JsonFile ReadJsonFile(const std::string& path, size_t maxBytes, Json& out, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        const int code = errno;
        error = path + ": cannot be read (" + std::strerror(code) + ")";
        return code == ENOENT ? JsonFile::kMissing : JsonFile::kFailed;
    }
    struct stat info {};
    std::string text;
    bool ok = ::fstat(fd, &info) == 0;
    if (!ok) {
        error = path + ": cannot be read (" + std::strerror(errno) + ")";
    } else if (!S_ISREG(info.st_mode)) {
        error = path + (S_ISDIR(info.st_mode) ? ": is a directory, not a file"
                                              : ": is not a regular file");
        ok = false;
    } else if (static_cast<unsigned long long>(info.st_size) > maxBytes) {
        error = path + ": is larger than " + std::to_string(maxBytes) + " bytes";
        ok = false;
    } else {
        text.resize(static_cast<size_t>(info.st_size));
        size_t got = 0;
        while (ok && got < text.size()) {
            const ssize_t n = ::read(fd, &text[got], text.size() - got);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                error = path + ": cannot be read" +
                        (n < 0 ? std::string(" (") + std::strerror(errno) + ")" : "");
                ok = false;
            } else {
                got += static_cast<size_t>(n);
            }
        }
    }
    ::close(fd);
    if (!ok || !ParseJson(text, path, out, error)) {
        return JsonFile::kFailed;
    }
    return JsonFile::kRead;
}

bool JsonChecker::Fail(const std::string& field, const std::string& problem) {
    if (m_error.empty()) {
        // Field names and values come from the file: printed, they stay one line.
        m_error = PrintableText(field.empty() ? problem : field + ": " + problem);
    }
    return false;
}

bool JsonChecker::IsObject(const Json& value, const std::string& where) {
    return value.is_object() || Fail(where, "must be a JSON object");
}

bool JsonChecker::OnlyKnownFields(const Json& object, const std::string& where,
                                  const std::set<std::string>& known) {
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (known.count(it.key()) == 0) {
            return Fail(Field(where, it.key().c_str()), "unknown field");
        }
    }
    return true;
}

bool JsonChecker::Require(const Json& object, const std::string& where, const char* key) {
    return object.contains(key) || Fail(Field(where, key), "is missing");
}

bool JsonChecker::Integer(const Json& object, const std::string& where, const char* key,
                          long long low, long long high, long long& value) {
    auto it = object.find(key);
    return it == object.end() || IntegerValue(*it, Field(where, key), low, high, value);
}

bool JsonChecker::Number(const Json& object, const std::string& where, const char* key, double low,
                         double high, double& value) {
    auto it = object.find(key);
    return it == object.end() || NumberValue(*it, Field(where, key), low, high, value);
}

bool JsonChecker::Text(const Json& object, const std::string& where, const char* key,
                       size_t maxLength, std::string& value) {
    auto it = object.find(key);
    return it == object.end() || TextValue(*it, Field(where, key), maxLength, value);
}

bool JsonChecker::Boolean(const Json& object, const std::string& where, const char* key,
                          bool& value) {
    auto it = object.find(key);
    if (it == object.end()) {
        return true;
    }
    if (!it->is_boolean()) {
        return Fail(Field(where, key), "must be true or false");
    }
    value = it->get<bool>();
    return true;
}

bool JsonChecker::Array(const Json& object, const std::string& where, const char* key,
                        size_t maxItems, const Json*& items) {
    items = nullptr;
    auto it = object.find(key);
    if (it == object.end()) {
        return true;
    }
    if (!it->is_array()) {
        return Fail(Field(where, key), "must be an array");
    }
    if (it->size() > maxItems) {
        return Fail(Field(where, key), "has " + std::to_string(it->size()) +
                                           " entries, more than the " + std::to_string(maxItems) +
                                           " allowed");
    }
    items = &*it;
    return true;
}

bool JsonChecker::IntegerValue(const Json& value, const std::string& field, long long low,
                               long long high, long long& out) {
    const std::string range =
        "must be an integer from " + std::to_string(low) + " to " + std::to_string(high);
    if (!value.is_number_integer()) {
        return Fail(field, range);
    }
    long long v = 0;
    if (value.is_number_unsigned()) {
        const auto u = value.get<unsigned long long>();
        v = u > static_cast<unsigned long long>(std::numeric_limits<long long>::max())
                ? std::numeric_limits<long long>::max()
                : static_cast<long long>(u);
    } else {
        v = value.get<long long>();
    }
    if (v < low || v > high) {
        return Fail(field, range);
    }
    out = v;
    return true;
}

bool JsonChecker::NumberValue(const Json& value, const std::string& field, double low, double high,
                              double& out) {
    if (!value.is_number() || !std::isfinite(value.get<double>()) || value.get<double>() < low ||
        value.get<double>() > high) {
        std::ostringstream range;
        range << "must be a number from " << low << " to " << high;
        return Fail(field, range.str());
    }
    out = value.get<double>();
    return true;
}

bool JsonChecker::TextValue(const Json& value, const std::string& field, size_t maxLength,
                            std::string& out) {
    if (!value.is_string()) {
        return Fail(field, "must be a string");
    }
    const std::string& text = value.get_ref<const std::string&>();
    if (text.size() > maxLength) {
        return Fail(field, "must be at most " + std::to_string(maxLength) + " bytes");
    }
    if (text.find('\0') != std::string::npos) {
        return Fail(field, "must not contain a zero character");
    }
    out = text;
    return true;
}

std::string JsonChecker::Field(const std::string& where, const char* key) {
    return where.empty() ? std::string(key) : where + "." + key;
}

std::string JsonChecker::Item(const std::string& field, size_t index) {
    return field + "[" + std::to_string(index) + "]";
}

}  // namespace platform
