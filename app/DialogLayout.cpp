#include "DialogLayout.h"

#include <QFontMetrics>
#include <QWidget>

QFont DialogFont() {
    QFont font(QStringLiteral("宋体"), 9);
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"),
                      QStringLiteral("AR PL UMing CN"), QStringLiteral("WenQuanYi Micro Hei"),
                      QStringLiteral("Noto Sans CJK SC")});
    return font;
}

CDialogUnits::CDialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    m_nBaseX = (metrics.horizontalAdvance(alphabet) + 26) / 52;  // rounded average width
    m_nBaseY = metrics.height();
}

QRect CDialogUnits::ToPixels(int x, int y, int width, int height) const {
    return QRect(x * m_nBaseX / 4, y * m_nBaseY / 8, width * m_nBaseX / 4, height * m_nBaseY / 8);
}

void CDialogUnits::Place(QWidget* widget, int x, int y, int width, int height) const {
    widget->setGeometry(ToPixels(x, y, width, height));
}
