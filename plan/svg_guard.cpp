#include "plan/svg_guard.h"

#include <zlib.h>

#include <QHash>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <functional>
#include <vector>

namespace plan {

namespace {

bool IsGzip(const QByteArray& bytes) {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1F &&
           static_cast<unsigned char>(bytes[1]) == 0x8B;
}

// Unpacks gzip data, stopping at kMaxSvgBytes of output.
bool Gunzip(const QByteArray& packed, QByteArray& out, std::string& error) {
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
        error = "cannot unpack it (zlib)";
        return false;
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.constData()));
    stream.avail_in = static_cast<uInt>(packed.size());
    out.clear();
    char chunk[1 << 16];
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof chunk;
        status = inflate(&stream, Z_NO_FLUSH);
        out.append(chunk, static_cast<qsizetype>(sizeof chunk - stream.avail_out));
        if (out.size() > kMaxSvgBytes) {
            inflateEnd(&stream);
            error = "unpacks to more than " + std::to_string(kMaxSvgBytes >> 20) +
                    " MB, more than a floor plan needs";
            return false;
        }
        if (status == Z_BUF_ERROR && stream.avail_in == 0) {
            break;  // the data ends early: draw what there is, the parser will say
        }
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END && status != Z_BUF_ERROR) {
        error = "its gzip packing is damaged";
        return false;
    }
    return true;
}

// A reference that stays inside the document: "#id", or data in the link itself.
bool IsInternalReference(QStringView link) {
    const QStringView trimmed = link.trimmed();
    return trimmed.startsWith(u'#') || trimmed.startsWith(u"data:", Qt::CaseInsensitive);
}

// Elements and the <use> references between them, to count what a drawing
// of the document would draw.
struct Element {
    std::vector<int> children;
    QString useOf;  // the id a <use> draws
};

// How many elements drawing `root` draws, every <use> drawing its target
// again; stops counting past `limit`. False for a <use> that draws itself.
bool CountDrawn(const std::vector<Element>& elements, const QHash<QString, int>& ids, long limit,
                long& drawn) {
    std::vector<long> memo(elements.size(), -1);
    std::vector<char> active(elements.size(), 0);
    bool cyclic = false;
    std::function<long(int, int)> count = [&](int index, int depth) -> long {
        if (memo[index] >= 0) {
            return memo[index];
        }
        if (active[index]) {
            cyclic = true;
            return limit + 1;
        }
        if (depth > 4 * kMaxSvgDepth) {
            return limit + 1;  // a chain of <use> deeper than any drawing needs
        }
        active[index] = 1;
        long total = 1;
        const Element& e = elements[index];
        for (int child : e.children) {
            total += count(child, depth + 1);
            if (total > limit || cyclic) {
                break;
            }
        }
        if (!e.useOf.isEmpty() && total <= limit && !cyclic) {
            const auto target = ids.find(e.useOf);
            if (target != ids.end()) {
                total += count(target.value(), depth + 1);
            }
        }
        active[index] = 0;
        memo[index] = std::min(total, limit + 1);
        return memo[index];
    };
    drawn = elements.empty() ? 0 : count(0, 0);
    return !cyclic;
}

}  // namespace

bool LooksLikeSvg(const QByteArray& bytes) {
    if (IsGzip(bytes)) {
        return true;
    }
    QByteArray head = bytes.left(4096);
    if (head.startsWith("\xEF\xBB\xBF")) {
        head.remove(0, 3);
    }
    head = head.trimmed();
    return head.startsWith('<') && head.contains("<svg");
}

bool MakeSafeSvg(const QByteArray& bytes, SafeSvg& out, std::string& error) {
    out = SafeSvg();
    if (bytes.size() > kMaxSvgBytes) {
        error = "the SVG is larger than " + std::to_string(kMaxSvgBytes >> 20) + " MB";
        return false;
    }
    QByteArray text;
    if (IsGzip(bytes)) {
        if (!Gunzip(bytes, text, error)) {
            error = "a gzip-packed SVG that " + error;
            return false;
        }
        if (!LooksLikeSvg(text)) {
            error = "a gzip-packed file that holds no SVG document";
            return false;
        }
    } else {
        text = bytes;
    }

    QXmlStreamReader reader(text);
    QXmlStreamWriter writer(&out.text);
    std::vector<Element> elements;
    std::vector<int> open;  // the elements started and not yet ended
    QHash<QString, int> ids;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::Invalid) {
            break;
        }
        if (token == QXmlStreamReader::DTD || token == QXmlStreamReader::EntityReference) {
            continue;  // entities are expanded by the reader; nothing else is fetched
        }
        if (token == QXmlStreamReader::StartElement) {
            if (elements.empty() && reader.name() != u"svg") {
                error = "an XML document that is not SVG (its first element is <" +
                        reader.name().toString().toStdString() + ">)";
                return false;
            }
            if (static_cast<int>(open.size()) >= kMaxSvgDepth) {
                error = "the SVG nests elements more than " + std::to_string(kMaxSvgDepth) +
                        " deep, which no floor plan does";
                return false;
            }
            if (static_cast<long>(elements.size()) >= kMaxSvgElements) {
                error = "the SVG has more than " + std::to_string(kMaxSvgElements) + " elements";
                return false;
            }
            const int index = static_cast<int>(elements.size());
            elements.emplace_back();
            if (!open.empty()) {
                elements[open.back()].children.push_back(index);
            }
            open.push_back(index);

            QXmlStreamAttributes kept;
            for (const QXmlStreamAttribute& a : reader.attributes()) {
                if (a.name() == u"href") {
                    if (!IsInternalReference(a.value())) {
                        ++out.droppedLinks;
                        continue;
                    }
                    if (reader.name() == u"use") {
                        elements[index].useOf = a.value().trimmed().mid(1).toString();
                    }
                }
                if (a.name() == u"id") {
                    ids.insert(a.value().toString(), index);
                }
                kept.append(a);
            }
            for (const QXmlStreamNamespaceDeclaration& ns : reader.namespaceDeclarations()) {
                if (ns.prefix().isEmpty()) {
                    writer.writeDefaultNamespace(ns.namespaceUri().toString());
                } else {
                    writer.writeNamespace(ns.namespaceUri().toString(), ns.prefix().toString());
                }
            }
            writer.writeStartElement(reader.namespaceUri().toString(), reader.name().toString());
            writer.writeAttributes(kept);
            continue;
        }
        if (token == QXmlStreamReader::EndElement && !open.empty()) {
            open.pop_back();
        }
        writer.writeCurrentToken(reader);
    }
    if (reader.hasError()) {
        error = "the SVG is not well-formed XML (line " + std::to_string(reader.lineNumber()) +
                ": " + reader.errorString().toStdString() + ")";
        return false;
    }
    if (elements.empty()) {
        error = "the SVG has no <svg> element";
        return false;
    }
    long drawn = 0;
    if (!CountDrawn(elements, ids, kMaxSvgElements, drawn)) {
        error = "the SVG has a <use> that draws itself";
        return false;
    }
    if (drawn > kMaxSvgElements) {
        error = "drawing the SVG would draw more than " + std::to_string(kMaxSvgElements) +
                " elements (its <use> elements repeat each other)";
        return false;
    }
    return true;
}

}  // namespace plan
