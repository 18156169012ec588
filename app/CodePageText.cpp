#include "app/CodePageText.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace {

bool IsAscii(std::string_view bytes) {
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

}  // namespace

QString FromCodePage(std::string_view bytes) {
    QString text;
    AppendFromCodePage(text, bytes);
    return text;
}

void AppendFromCodePage(QString& out, std::string_view bytes) {
    const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
    // ASCII is the same in the code page; most cells (numbers, dates, phones) are ASCII.
    if (IsAscii(bytes)) {
        out.append(QLatin1StringView(view));
        return;
    }
    // One decoder per thread: looking the code page up by name costs more than decoding.
    // Stateless, so that nothing of one text carries over into the next. A byte gives at
    // most one UTF-16 unit (a four-byte sequence two), so the bytes' count is room enough.
    thread_local QStringDecoder decode("GB18030", QStringConverter::Flag::Stateless);
    const qsizetype start = out.size();
    out.resize(start + view.size());
    QChar* end = decode.appendToBuffer(out.data() + start, view);
    out.truncate(end - out.constData());
}

std::string ToCodePage(const QString& text, int maxBytes) {
    QStringEncoder encode("GB18030");
    if (maxBytes < 0) {
        return QByteArray(encode(text)).toStdString();
    }
    std::string out;
    for (int i = 0; i < text.size();) {
        const int length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const std::string piece = QByteArray(encode(text.mid(i, length))).toStdString();
        if (out.size() + piece.size() > static_cast<size_t>(maxBytes)) {
            break;
        }
        out += piece;
        i += length;
    }
    return out;
}
