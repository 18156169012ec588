#include "app/ControlId.h"

namespace {

QString ObjectName(int id) {
    return QStringLiteral("id%1").arg(id);
}

}  // namespace

void SetControlId(QWidget* control, int id) {
    control->setObjectName(ObjectName(id));
}

QWidget* FindControl(const QWidget* window, int id) {
    return window->findChild<QWidget*>(ObjectName(id));
}
