#include "plan/plan_import.h"

#include <sys/stat.h>

#include <QColorSpace>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QPdfDocument>
#include <QSvgRenderer>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "plan/plan_palette.h"
#include "plan/svg_guard.h"
#include "platform/files.h"
#include "sitefile/site_writer.h"

namespace plan {

namespace {

std::string SizeText(QSize size) {
    return std::to_string(size.width()) + " x " + std::to_string(size.height()) + " pixels";
}

// What the file is, checked before anything reads it: a missing file, a
// folder, a device or a pipe (which could block the read for ever) end here.
bool CheckFile(const std::string& path, std::string& error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = errno == ENOENT ? "no such file" : std::strerror(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        error = "is a folder, not a plan";
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "is not a regular file (a device or a pipe), so it is not read";
        return false;
    }
    if (st.st_size == 0) {
        error = "is empty";
        return false;
    }
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        error = "cannot be read (" + file.errorString().toStdString() + ")";
        return false;
    }
    return true;
}

QByteArray FileHead(const std::string& path, qint64 bytes) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.read(bytes) : QByteArray();
}

// Formats a plan may come in that Qt does not read, told by their first
// bytes, with what to do instead.
std::string ForeignFormat(const QByteArray& head) {
    const QByteArray text = head.trimmed();
    if (head.startsWith("AC10")) {
        return "an AutoCAD DWG drawing, which Kestrow does not read: export the floor plan from "
               "the CAD program as PDF (or SVG or PNG)";
    }
    if (text.startsWith("0\n") || text.startsWith("0\r\n")) {
        if (text.left(64).contains("SECTION")) {
            return "a DXF drawing, which Kestrow does not read: export the floor plan from the CAD "
                   "program as PDF (or SVG or PNG)";
        }
    }
    if (head.startsWith("%!PS") || head.startsWith("\xC5\xD0\xD3\xC6")) {
        return "PostScript (PS or EPS), which Kestrow does not read: convert it to PDF (for "
               "example with ps2pdf) and make the site from that";
    }
    if (head.startsWith("AT&TFORM")) {
        return "a DjVu document, which Kestrow does not read: convert it to PDF (for example with "
               "ddjvu -format=pdf)";
    }
    const QByteArray brand = head.mid(4, 8);
    if (brand == "ftypheic" || brand == "ftypheix" || brand == "ftypmif1" || brand == "ftypavif") {
        return "a HEIF or AVIF photo, which Qt does not read here: convert it to JPEG or PNG "
               "(most photo tools can)";
    }
    if (head.startsWith(QByteArray("\x00\x00\x00\x0C"
                                   "jP  ",
                                   8)) ||
        head.startsWith("\xFF\x4F\xFF\x51")) {
        return "a JPEG 2000 picture, which Qt does not read here: convert it to PNG";
    }
    if (head.startsWith("8BPS")) {
        return "a Photoshop document: export it as PNG";
    }
    if (head.startsWith("PK\x03\x04") || head.startsWith("\xD0\xCF\x11\xE0")) {
        return "an archive or office document (Word, Visio, ...), not a plan picture: export the "
               "floor plan from it as PDF or PNG";
    }
    return std::string();
}

std::string PictureFormats() {
    std::string names;
    for (const QByteArray& format : QImageReader::supportedImageFormats()) {
        if (format != "svg" && format != "svgz") {
            names += (names.empty() ? "" : ", ") + format.toStdString();
        }
    }
    return names;
}

// Lays a picture with transparency on white paper; the result is opaque RGB32
// in sRGB.
QImage OnPaper(QImage image) {
    if (image.colorSpace().isValid() && image.colorSpace() != QColorSpace::SRgb) {
        image.convertToColorSpace(QColorSpace::SRgb);
    }
    if (!image.hasAlphaChannel()) {
        return image.convertToFormat(QImage::Format_RGB32);
    }
    QImage paper(image.size(), QImage::Format_RGB32);
    paper.fill(Qt::white);
    QPainter painter(&paper);
    painter.drawImage(0, 0, image);
    painter.end();
    return paper;
}

// The size to draw a vector plan at: `width` wide in the page's proportions,
// no side past kMaxPlanSide.
QSize DrawSize(QSizeF page, int width, std::vector<std::string>& notes) {
    const double height = width * page.height() / page.width();
    QSize size(width, static_cast<int>(std::clamp(std::lround(height), 1L, 1L << 30)));
    if (size.height() > kMaxPlanSide) {
        const QSize fitted = size.scaled(kMaxPlanSide, kMaxPlanSide, Qt::KeepAspectRatio);
        notes.push_back("drawn at " + SizeText(fitted.expandedTo(QSize(1, 1))) + ", as " +
                        std::to_string(width) + " pixels wide it would be " +
                        std::to_string(size.height()) + " high, more than " +
                        std::to_string(kMaxPlanSide));
        size = fitted.expandedTo(QSize(1, 1));
    }
    return size;
}

bool Pdf(const std::string& path, const PlanOptions& options, Plan& out, std::string& error) {
    out.kind = PlanKind::kPdf;
    QPdfDocument document;
    switch (document.load(QString::fromStdString(path))) {
        case QPdfDocument::Error::None:
            break;
        case QPdfDocument::Error::IncorrectPassword:
            error =
                "the PDF is protected by a password: open it in a PDF viewer, print it to a "
                "new PDF without one and make the site from that";
            return false;
        case QPdfDocument::Error::UnsupportedSecurityScheme:
            error =
                "the PDF is protected in a way Qt PDF cannot open: print it to a new PDF in a "
                "PDF viewer and make the site from that";
            return false;
        default:
            error =
                "a damaged PDF, or one Qt PDF cannot read: print it to a new PDF in a PDF "
                "viewer, or export the page as PNG, and make the site from that";
            return false;
    }
    out.pages = document.pageCount();
    if (out.pages <= 0) {
        error = "the PDF has no pages";
        return false;
    }
    if (options.page > out.pages) {
        error = "there is no page " + std::to_string(options.page) + ": the PDF has " +
                std::to_string(out.pages) + (out.pages == 1 ? " page" : " pages");
        return false;
    }
    const int index = options.page - 1;
    const QSizeF points = document.pagePointSize(index);
    if (!(points.width() > 0 && points.height() > 0) || !std::isfinite(points.width()) ||
        !std::isfinite(points.height())) {
        error = "page " + std::to_string(options.page) + " of the PDF has no size";
        return false;
    }
    const QSize size = DrawSize(points, options.width.value_or(kDefaultDrawWidth), out.notes);
    const QImage page = document.render(index, size);
    if (page.isNull()) {
        error = "page " + std::to_string(options.page) + " of the PDF cannot be drawn";
        return false;
    }
    out.image = OnPaper(page);
    return true;
}

bool Svg(const std::string& path, const PlanOptions& options, Plan& out, std::string& error) {
    out.kind = PlanKind::kSvg;
    if (options.page > 1) {
        error = "there is no page " + std::to_string(options.page) + ": an SVG has one page";
        return false;
    }
    QFile file(QString::fromStdString(path));
    if (file.size() > kMaxSvgBytes) {
        error = "the SVG is larger than " + std::to_string(kMaxSvgBytes >> 20) + " MB";
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        error = "cannot be read (" + file.errorString().toStdString() + ")";
        return false;
    }
    SafeSvg safe;
    if (!MakeSafeSvg(file.read(kMaxSvgBytes + 1), safe, error)) {
        return false;
    }
    QSvgRenderer renderer(safe.text);
    if (!renderer.isValid()) {
        error =
            "an SVG that Qt SVG cannot draw: open it in a drawing program, save it again as "
            "plain SVG (or PDF) and make the site from that";
        return false;
    }
    const QRectF box = renderer.viewBoxF();
    if (!(box.width() > 0 && box.height() > 0) || !std::isfinite(box.width()) ||
        !std::isfinite(box.height())) {
        error = "the SVG has no size: give its <svg> element a viewBox, or a width and a height";
        return false;
    }
    const QSize size = DrawSize(box.size(), options.width.value_or(kDefaultDrawWidth), out.notes);
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    painter.end();
    out.image = image;
    if (safe.droppedLinks > 0) {
        out.notes.push_back(std::to_string(safe.droppedLinks) +
                            (safe.droppedLinks == 1 ? " link" : " links") +
                            " to other files or the web left out (Kestrow never fetches them): "
                            "embed the pictures in the SVG to have them drawn");
    }
    return true;
}

bool Picture(const std::string& path, const PlanOptions& options, Plan& out, std::string& error) {
    out.kind = PlanKind::kPicture;
    QImageReader reader(QString::fromStdString(path));
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    if (!reader.canRead()) {
        const std::string foreign = ForeignFormat(FileHead(path, 64));
        error = !foreign.empty()
                    ? foreign
                    : "not a plan Kestrow reads: neither a picture Qt reads (" + PictureFormats() +
                          ") nor SVG nor PDF; save or export the plan as PDF, SVG or PNG";
        return false;
    }
    const std::string format = reader.format().toUpper().toStdString();
    out.pages = std::max(1, reader.imageCount());
    if (options.page > out.pages) {
        error = "there is no page " + std::to_string(options.page) + ": the " + format +
                " picture has " + std::to_string(out.pages) + (out.pages == 1 ? " page" : " pages");
        return false;
    }
    if (options.page > 1) {
        reader.jumpToImage(options.page - 1);
    }
    const QSize size = reader.size();
    const QSize fitted = size.scaled(kMaxPlanSide, kMaxPlanSide, Qt::KeepAspectRatio);
    const bool tooLarge = size.width() > kMaxPlanSide || size.height() > kMaxPlanSide;
    if (tooLarge && reader.format() == "jpeg") {
        reader.setScaledSize(fitted);  // JPEG decodes at the smaller size straight away
    } else if (size.isValid() &&
               4.0 * size.width() * size.height() > kMaxDecodeMegabytes * 1048576.0) {
        error = "the " + format + " picture is " + SizeText(size) +
                ", more than Kestrow reads into memory (" + std::to_string(kMaxDecodeMegabytes) +
                " MB): scale it down to at most " + std::to_string(kMaxPlanSide) +
                " pixels a side (for example: convert " +
                QFileInfo(QString::fromStdString(path)).fileName().toStdString() + " -resize " +
                std::to_string(kMaxPlanSide) + "x" + std::to_string(kMaxPlanSide) +
                " smaller.png), or export the plan as PDF or SVG, and make the site from that";
        return false;
    }
    QImage image = reader.read();
    if (image.isNull()) {
        error = "a " + format + " picture that cannot be read (" +
                reader.errorString().toStdString() + ")";
        return false;
    }
    if (image.width() > kMaxPlanSide || image.height() > kMaxPlanSide) {
        image =
            image.scaled(kMaxPlanSide, kMaxPlanSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    if (image.size() != size && size.isValid() && tooLarge) {
        out.notes.push_back("scaled from " + SizeText(size) + " to " + SizeText(image.size()) +
                            " (at most " + std::to_string(kMaxPlanSide) + " a side)");
    }
    out.image = OnPaper(image);
    return true;
}

}  // namespace

bool LoadPlan(const std::string& path, const PlanOptions& options, Plan& out, std::string& error) {
    out = Plan();
    QImageReader::setAllocationLimit(kMaxDecodeMegabytes);
    std::string reason;
    bool loaded = false;
    if (options.page < 1) {
        reason = "pages are counted from 1";
    } else if (options.width && (*options.width < 1 || *options.width > kMaxPlanSide)) {
        reason = "the width must be 1 to " + std::to_string(kMaxPlanSide) + " pixels";
    } else if (CheckFile(path, reason)) {
        const QByteArray head = FileHead(path, 4096);
        if (head.left(1024).contains("%PDF-")) {
            loaded = Pdf(path, options, out, reason);
        } else if (LooksLikeSvg(head)) {
            loaded = Svg(path, options, out, reason);
        } else {
            loaded = Picture(path, options, out, reason);
        }
    }
    if (!loaded) {
        error = path + ": " + reason;
        out.image = QImage();
    }
    return loaded;
}

const char* PlanKindName(PlanKind kind) {
    switch (kind) {
        case PlanKind::kPdf:
            return "PDF";
        case PlanKind::kSvg:
            return "SVG";
        case PlanKind::kPicture:
            break;
    }
    return "picture";
}

bool LooksLikePlan(const std::string& path) {
    std::string ignored;
    if (!CheckFile(path, ignored)) {
        return false;
    }
    const QByteArray head = FileHead(path, 4096);
    if (head.left(1024).contains("%PDF-") || LooksLikeSvg(head) ||
        !ForeignFormat(head.left(64)).empty()) {
        return true;
    }
    QImageReader reader(QString::fromStdString(path));
    reader.setDecideFormatFromContent(true);
    return reader.canRead();
}

bool WriteNewSite(const QImage& plan, const std::string& sitePath, std::string& error,
                  sitefile::SiteMap* map) {
    const sitefile::SiteMap indexed = IndexedSiteMap(plan);
    const std::vector<uint8_t> site = sitefile::BuildNewSiteFile(indexed);
    if (!platform::WriteOutputFile(sitePath, site.data(), site.size(), error)) {
        return false;
    }
    if (map != nullptr) {
        *map = indexed;
    }
    return true;
}

}  // namespace plan
