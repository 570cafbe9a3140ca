#include "picture/png_output.h"

#include <QBuffer>
#include <QByteArray>

#include "platform/files.h"

namespace picture {

bool WritePng(const std::string& path, const QImage& picture, std::string& error) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (picture.isNull() || !picture.save(&buffer, "PNG")) {
        error = path + ": cannot make the picture";
        return false;
    }
    return platform::WriteOutputFile(path, png.constData(), static_cast<size_t>(png.size()), error);
}

}  // namespace picture
