#include "ui/HeaderCtrlCl.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

#include "app/DialogLayout.h"

namespace {

// The title and cell font: "宋体" (with Chinese fallbacks) at a pixel height.

}  // namespace

CHeaderCtrlCl::CHeaderCtrlCl(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setSectionResizeMode(QHeaderView::Fixed);  // no dragging, no auto-size on double-click
    setSectionsMovable(false);
    setSectionsClickable(false);
    setHighlightSections(false);
}

QColor CHeaderCtrlCl::GradientColor(int red, int green, int blue, int step, int y) {
    const auto at = [step, y](int start) {
        const long long value = static_cast<long long>(start) - static_cast<long long>(step) * y;
        return static_cast<int>(std::max<long long>(0, value) & 0xFF);
    };
    return QColor(at(red), at(green), at(blue));
}

int CHeaderCtrlCl::ScaledHeight(int standard, float factor) {
    return static_cast<int>(static_cast<float>(standard) * factor);
}

Qt::Alignment CHeaderCtrlCl::AlignmentOf(QChar code) {
    if (code == QLatin1Char('0')) {
        return Qt::AlignLeft;
    }
    if (code == QLatin1Char('2')) {
        return Qt::AlignRight;
    }
    return Qt::AlignHCenter;
}

QSize CHeaderCtrlCl::sizeHint() const {
    QSize size = QHeaderView::sizeHint();
    size.setHeight(ScaledHeight(size.height(), m_fHeightScale));
    return size;
}

void CHeaderCtrlCl::PaintGradient(QPainter* painter, int left, int right, int top,
                                  int bottom) const {
    for (int y = top; y <= bottom; ++y) {
        painter->fillRect(QRect(QPoint(left, y), QPoint(right - 1, y)),
                          GradientColor(m_nRed, m_nGreen, m_nBlue, m_nGradientStep, y - top));
    }
}

void CHeaderCtrlCl::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    painter->save();
    // The leftmost pixel column stays unpainted: a thin separator.
    PaintGradient(painter, rect.left() + 1, rect.right() + 1, rect.top(), rect.bottom());
    const QFont font = SongFont(m_nFontHeight, m_nFontWidth);
    painter->setFont(font);
    painter->setPen(m_clrText);
    QRect text = rect;
    const QChar code = logicalIndex < m_strAlign.size() ? m_strAlign.at(logicalIndex) : QChar();
    const Qt::Alignment align = AlignmentOf(code);
    if (align == Qt::AlignLeft) {
        text.setLeft(text.left() + 3);
    } else if (align == Qt::AlignRight) {
        text.setRight(text.right() - 3);
    }
    const int textHeight = QFontMetrics(font).height();
    text.translate(0, (rect.height() - textHeight) / 2);
    const QString title =
        logicalIndex < m_astrTitle.size() ? m_astrTitle.at(logicalIndex) : QString();
    painter->drawText(text, static_cast<int>(align | Qt::AlignTop), title);
    painter->restore();
}

void CHeaderCtrlCl::paintEvent(QPaintEvent* event) {
    QHeaderView::paintEvent(event);
    // The area right of the last column, with the gradient started again.
    QPainter painter(viewport());
    const int last = count() - 1;
    const int start = last >= 0 ? sectionViewportPosition(last) + sectionSize(last) : 0;
    if (start < viewport()->width()) {
        PaintGradient(&painter, start + (last >= 0 ? 1 : 0), viewport()->width(), 0,
                      viewport()->height() - 1);
    }
}
