// A picture written as PNG to an output a person named: through the one
// output writer (platform::WriteOutputFile), so "-" is standard output, a
// regular file is replaced atomically and a device or a pipe is written to
// as it is, never replaced.
#pragma once

#include <QImage>
#include <string>

namespace picture {

// False with "PATH: why" in `error`.
bool WritePng(const std::string& path, const QImage& picture, std::string& error);

}  // namespace picture
