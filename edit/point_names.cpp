#include "edit/point_names.h"

#include <algorithm>
#include <set>

namespace edit {

namespace {

// The digits of a whole number without leading zeros ("0" for zero); empty
// when `name` is not one.
std::string NumberIn(const std::string& name) {
    if (name.empty() ||
        !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return {};
    }
    const size_t first = std::min(name.find_first_not_of('0'), name.size() - 1);
    return name.substr(first);
}

bool Less(const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

std::string Increment(std::string digits) {
    for (size_t i = digits.size(); i > 0; --i) {
        if (digits[i - 1] != '9') {
            ++digits[i - 1];
            return digits;
        }
        digits[i - 1] = '0';
    }
    return "1" + digits;
}

}  // namespace

std::string NextPointName(const std::vector<std::string>& names) {
    std::set<std::string, bool (*)(const std::string&, const std::string&)> numbers(Less);
    for (const std::string& name : names) {
        const std::string number = NumberIn(name);
        if (!number.empty()) {
            numbers.insert(number);
        }
    }
    if (numbers.empty()) {
        return "1";
    }
    const std::string next = Increment(*numbers.rbegin());
    if (next.size() <= kMaxPointName) {
        return next;
    }
    std::string lowest = "1";
    while (numbers.count(lowest) != 0) {
        lowest = Increment(lowest);
    }
    return lowest;
}

std::string NameProblem(const std::string& name) {
    if (name.empty()) {
        return "a point's name cannot be empty";
    }
    if (name.size() > kMaxPointName) {
        return "a point's name has at most " + std::to_string(kMaxPointName) + " bytes, not " +
               std::to_string(name.size());
    }
    if (name.find('\0') != std::string::npos) {
        return "a point's name cannot hold a zero byte";
    }
    return {};
}

}  // namespace edit
