#pragma once

#include <QWidget>

// The main window's client area: it carries no data and paints itself light grey.
class COrvaneView : public QWidget {
    Q_OBJECT
public:
    explicit COrvaneView(QWidget* parent = nullptr);

    static QColor BackgroundColor() { return QColor(220, 220, 220); }

protected:
    void paintEvent(QPaintEvent* event) override;
};
