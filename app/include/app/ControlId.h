#pragma once

#include <QWidget>

// Every window names its controls by their ids: a control's object name is "id<N>". The
// windows find their own controls by id, and so do the tests.

// Gives `control` the id `id`.
void SetControlId(QWidget* control, int id);

// The control of `window` with the id `id` (its direct children first), or nullptr.
QWidget* FindControl(const QWidget* window, int id);

// The same control as a T; nullptr when there is none or it is no T.
template <class T>
T* FindControl(const QWidget* window, int id) {
    return qobject_cast<T*>(FindControl(window, id));
}
