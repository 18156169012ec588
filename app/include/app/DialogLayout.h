#pragma once

#include <QFont>
#include <QRect>

class QDialog;
class QLabel;
class QPushButton;
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
// The same face at a height in pixels and an average width (0: the face's own).
QFont SongFont(int height, int width);

// Title, dialog font and fixed size in dialog units; returns the units for placing controls.
CDialogUnits SetUpDialog(QDialog* dialog, const QString& title, int width, int height);

// A window of lists (a dialog laid out by layouts): SetUpDialog's title, font and size in
// dialog units as its smallest size, and a size grip to make it larger.
void SetUpResizableDialog(QDialog* dialog, const QString& title, int width, int height);
// A push button of `parent` with the control id `id`.
QPushButton* AddButton(QWidget* parent, int id, const char* text);

// A right-aligned label at the rectangle, naming `control` for screen readers (as buddy and
// accessible name).
QLabel* AddLabelFor(QWidget* control, const CDialogUnits& du, const QString& text, int x, int y,
                    int width, int height);

// The "确认" (default) and "取消" buttons of the small dialogs, at 39,79 and 104,79.
void AddOkCancel(QDialog* dialog, const CDialogUnits& du);

// Enter in a field must never run a command button: only the dialog's explicit default (its
// OK button, where it has one) answers Enter. Turns off Qt's automatic default of every push
// button of `dialog`; call it once its buttons exist.
void KeepEnterForTheDefault(QDialog* dialog);
