#include "GuiTestUtil.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QTest>

#include "ui/ListCtrlCl.h"

QPushButton* Button(QWidget* parent, const QString& text) {
    for (QPushButton* b : parent->findChildren<QPushButton*>()) {
        if (b->text() == text) {
            return b;
        }
    }
    return nullptr;
}

void TypeInto(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    for (const QChar c : text) {
        if (c.unicode() < 0x80) {
            QTest::keyClicks(edit, QString(c));
        } else {
            edit->insert(QString(c));
        }
    }
}

void Screenshot(QWidget* widget, const char* name) {
    const QByteArray dir = qgetenv("ORVANE_SCREENSHOT_DIR");
    if (!dir.isEmpty()) {
        widget->grab().save(QString::fromUtf8(dir) + "/" + name + ".png");
    }
}

void ClickControl(QWidget* control) {
    QTest::mouseClick(control, Qt::LeftButton, {}, QPoint(6, control->height() / 2));
}

void ClickListRow(CListCtrlCl& list, int row) {
    const QModelIndex index = list.Model()->index(row, 2);
    list.scrollTo(index);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualRect(index).center());
}

bool AccessibleAction(QWidget* widget, const QString& action) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    if (accessible == nullptr || accessible->actionInterface() == nullptr ||
        !accessible->actionInterface()->actionNames().contains(action)) {
        return false;
    }
    accessible->actionInterface()->doAction(action);
    if (action == QAccessibleActionInterface::pressAction()) {
        QTest::qWait(250);  // animateClick() clicks 100 ms later
    }
    return true;
}

void PressEnter(QWidget* widget) {
    widget->setFocus();
    QApplication::processEvents();
    QTest::keyClick(widget, Qt::Key_Return);
    QApplication::processEvents();
}
