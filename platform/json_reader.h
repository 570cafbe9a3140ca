// Every JSON file the program reads (profiles, sidecars, scenarios) comes in
// through here, so that no file, however damaged, ends a tool with a library
// exception: a parse error, a number beyond a double's range, nesting deeper
// than any real file has, bytes after the value (a NUL byte included) and a
// value of the wrong type all become one line naming the file, and where it
// can, the line and column.
//
//   platform::Json root;
//   if (!platform::ReadJsonFile(path, 1 << 20, root, error)) { ...error... }
//   platform::JsonChecker check(path);
//   double level = -67;
//   check.Number(root, "", "min_strongest_dbm", -120, 0, level);
//   if (check.Failed()) { error = check.Error(); ... }
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

namespace platform {

using Json = nlohmann::json;

// Deeper nesting than this is refused before it is parsed any further.
constexpr int kMaxJsonDepth = 64;

// Parses `text` as one JSON value. `name` (a path, usually) begins every
// message: "NAME: line 3, column 7: number overflow parsing '1e400'".
bool ParseJson(const std::string& text, const std::string& name, Json& out, std::string& error);

enum class JsonFile {
    kRead,     // read and parsed into `out`
    kMissing,  // no file at the path (error says so)
    kFailed,   // there, but not readable as JSON (error says why)
};

// Reads the file at `path` whole and parses it. Only a regular file of at
// most `maxBytes` bytes is read; anything else is refused with the reason.
JsonFile ReadJsonFile(const std::string& path, size_t maxBytes, Json& out, std::string& error);

// Checks the fields of parsed JSON and keeps the first problem found, with
// the name of the file and the path of the field it concerns
// ("office.json: access_points[2].rssi: must be a number from -100 to -20").
// Each getter leaves `value` alone and answers true when the field is absent;
// Require() makes absence a problem.
class JsonChecker {
  public:
    explicit JsonChecker(std::string fileName) : m_file(std::move(fileName)) {}

    bool Failed() const { return !m_error.empty(); }
    // The first problem as one line, the file's name first.
    std::string Error() const { return m_file.empty() ? m_error : m_file + ": " + m_error; }

    bool Fail(const std::string& field, const std::string& problem);

    bool IsObject(const Json& value, const std::string& where);
    bool OnlyKnownFields(const Json& object, const std::string& where,
                         const std::set<std::string>& known);
    bool Require(const Json& object, const std::string& where, const char* key);

    bool Integer(const Json& object, const std::string& where, const char* key, long long low,
                 long long high, long long& value);
    bool Number(const Json& object, const std::string& where, const char* key, double low,
                double high, double& value);
    bool Text(const Json& object, const std::string& where, const char* key, size_t maxLength,
              std::string& value);
    bool Boolean(const Json& object, const std::string& where, const char* key, bool& value);
    // An array of at most maxItems entries; `items` is left null when absent.
    bool Array(const Json& object, const std::string& where, const char* key, size_t maxItems,
               const Json*& items);

    // The same checks on a value itself (an array's entry), `field` naming it.
    bool IntegerValue(const Json& value, const std::string& field, long long low, long long high,
                      long long& out);
    bool NumberValue(const Json& value, const std::string& field, double low, double high,
                     double& out);
    bool TextValue(const Json& value, const std::string& field, size_t maxLength, std::string& out);

    static std::string Field(const std::string& where, const char* key);
    static std::string Item(const std::string& field, size_t index);

  private:
    std::string m_file;
    std::string m_error;
};

}  // namespace platform
