#pragma once

#include <QString>

class CListCtrlCl;
class QLineEdit;
class QPushButton;
class QWidget;

// The push button of `parent` that shows `text`, or nullptr.
QPushButton* Button(QWidget* parent, const QString& text);

// Replaces the edit's text as an operator types it; characters without a key of their own
// (Chinese) come as input-method text.
void TypeInto(QLineEdit* edit, const QString& text);

// With ORVANE_SCREENSHOT_DIR set, saves the widget there as `name`.png.
void Screenshot(QWidget* widget, const char* name);

// A left click on a button or check box, near its left edge where the box is.
void ClickControl(QWidget* control);

// A left click on a row of the list, scrolled into view first.
void ClickListRow(CListCtrlCl& list, int row);

// Runs an accessibility action on `widget` as a screen reader does ("Toggle", "Press"); false
// when the widget does not offer it. A "Press" clicks after a short animation: the events are
// processed until it has.
bool AccessibleAction(QWidget* widget, const QString& action);

// Enter (the main keyboard's Return) pressed in `widget`, which gets the focus first.
void PressEnter(QWidget* widget);
