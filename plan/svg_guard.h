// An SVG plan made safe to draw: whatever the file holds, drawing it reads
// nothing else and ends in bounded time and memory.
#pragma once

#include <QByteArray>
#include <string>

namespace plan {

// Limits an SVG plan must keep to be drawn.
constexpr qsizetype kMaxSvgBytes = 64 << 20;  // the file, and its text once unpacked
constexpr int kMaxSvgDepth = 256;             // elements inside elements
constexpr long kMaxSvgElements = 1000000;     // elements drawn, every <use> counted out

struct SafeSvg {
    QByteArray text;       // the document to hand to the renderer
    int droppedLinks = 0;  // references to other files or the network, left out
};

// True when `bytes` begin like an SVG document (text or gzip-packed).
bool LooksLikeSvg(const QByteArray& bytes);

// Unpacks a gzip-packed document, checks the limits above and writes the
// document again without any reference outside it (an <image> or <use> of
// another file or a URL): only "#id" and "data:" references stay. False with
// a one-line reason (no file name) when the document cannot be drawn safely.
bool MakeSafeSvg(const QByteArray& bytes, SafeSvg& out, std::string& error);

}  // namespace plan
