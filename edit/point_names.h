// The names of survey points the workspace gives and takes.
#pragma once

#include <string>
#include <vector>

namespace edit {

// A stored name has at most this many bytes.
constexpr size_t kMaxPointName = 31;

// One after the highest whole number among `names` ("1" when there is
// none); names that are not all digits are passed over, leading zeros do not
// count. A number too long to store gives the lowest one not yet used.
std::string NextPointName(const std::vector<std::string>& names);

// Why `name` cannot be a point's name (empty, longer than a site stores, or
// holding a zero byte); empty when it can.
std::string NameProblem(const std::string& name);

}  // namespace edit
