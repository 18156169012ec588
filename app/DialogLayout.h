#pragma once

#include <QFont>
#include <QRect>

class QWidget;

// The dialogs are laid out in dialog units of their font, the way the original resources
// were: x × average character width / 4, y × character height / 8.
class CDialogUnits {
public:
    explicit CDialogUnits(const QFont& font);
    QRect ToPixels(int x, int y, int width, int height) const;
    // Places `widget` at the dialog-unit rectangle.
    void Place(QWidget* widget, int x, int y, int width, int height) const;

private:
    int m_nBaseX;
    int m_nBaseY;
};

// "宋体" at 9 points, falling back to a face with Chinese glyphs where it is not installed.
QFont DialogFont();
