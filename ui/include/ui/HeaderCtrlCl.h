#pragma once

#include <QColor>
#include <QHeaderView>
#include <QStringList>

// The card list's header: every column title over a vertical colour gradient, the height a
// multiple of the standard one, the titles aligned by one code per column.
class CHeaderCtrlCl : public QHeaderView {
    Q_OBJECT
public:
    explicit CHeaderCtrlCl(QWidget* parent = nullptr);

    QStringList m_astrTitle;
    QString m_strAlign;  // '0' left, '1' centre, '2' right, per column
    int m_nRed = 171;
    int m_nGreen = 199;
    int m_nBlue = 235;
    int m_nGradientStep = 8;
    float m_fHeightScale = 1.0f;
    int m_nFontHeight = 15;
    int m_nFontWidth = 0;
    QColor m_clrText = QColor(0, 0, 0);

    // The colour of pixel row `y` (0 = top) of the gradient: each component starts at its
    // value and loses the step per row, never below 0; only its low byte counts.
    static QColor GradientColor(int red, int green, int blue, int step, int y);
    // The standard height times the factor, truncated toward zero.
    static int ScaledHeight(int standard, float factor);
    // Qt alignment of an alignment code ('0', '1', '2'; anything else centres).
    static Qt::Alignment AlignmentOf(QChar code);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    void PaintGradient(QPainter* painter, int left, int right, int top, int bottom) const;
};
