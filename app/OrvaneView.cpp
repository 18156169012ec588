#include "app/OrvaneView.h"

#include <QPainter>

COrvaneView::COrvaneView(QWidget* parent) : QWidget(parent) {
    setObjectName("view");
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void COrvaneView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), BackgroundColor());
}
