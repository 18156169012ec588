#include "CodePageText.h"

#include <QStringDecoder>
#include <QStringEncoder>

QString FromCodePage(const std::string& bytes) {
    QStringDecoder decode("GB18030");
    return decode(QByteArray::fromStdString(bytes));
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
