#include "app/DialogLayout.h"

#include "app/AppIcon.h"
#include "app/ControlId.h"

#include <QDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>

#include <QWidget>
#include <algorithm>
#include <cstdlib>

QFont DialogFont() {
    QFont font(QStringLiteral("宋体"), 9);
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"),
                      QStringLiteral("AR PL UMing CN"), QStringLiteral("WenQuanYi Micro Hei"),
                      QStringLiteral("Noto Sans CJK SC")});
    return font;
}

QFont SongFont(int height, int width) {
    QFont font = DialogFont();
    font.setPixelSize(std::max(1, std::abs(height)));
    if (width > 0) {
        font.setStretch(std::clamp(width * 200 / std::max(1, std::abs(height)), 1, 4000));
    }
    return font;
}

CDialogUnits::CDialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    m_nBaseX = (metrics.horizontalAdvance(alphabet) + 26) / 52;  // rounded average width
    m_nBaseY = metrics.height();
}

QRect CDialogUnits::ToPixels(int x, int y, int width, int height) const {
    return QRect(x * m_nBaseX / 4, y * m_nBaseY / 8, width * m_nBaseX / 4, height * m_nBaseY / 8);
}

void CDialogUnits::Place(QWidget* widget, int x, int y, int width, int height) const {
    widget->setGeometry(ToPixels(x, y, width, height));
}

void SetUpResizableDialog(QDialog* dialog, const QString& title, int width, int height) {
    SetUpDialog(dialog, title, width, height);
    dialog->setMinimumSize(dialog->size());
    dialog->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    dialog->setSizeGripEnabled(true);
}

QPushButton* AddButton(QWidget* parent, int id, const char* text) {
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    SetControlId(button, id);
    return button;
}

CDialogUnits SetUpDialog(QDialog* dialog, const QString& title, int width, int height) {
    dialog->setWindowTitle(title);
    dialog->setWindowIcon(AppIcon());
    dialog->setFont(DialogFont());
    const CDialogUnits du(dialog->font());
    dialog->setFixedSize(du.ToPixels(0, 0, width, height).size());
    return du;
}

QLabel* AddLabelFor(QWidget* control, const CDialogUnits& du, const QString& text, int x, int y,
                    int width, int height) {
    auto* label = new QLabel(text, control->parentWidget());
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    du.Place(label, x, y, width, height);
    label->setBuddy(control);
    control->setAccessibleName(text);
    return label;
}

void AddOkCancel(QDialog* dialog, const CDialogUnits& du) {
    auto* ok = new QPushButton(QStringLiteral("确认"), dialog);
    ok->setDefault(true);
    du.Place(ok, 39, 79, 50, 14);
    auto* cancel = new QPushButton(QStringLiteral("取消"), dialog);
    du.Place(cancel, 104, 79, 50, 14);
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    KeepEnterForTheDefault(dialog);
}

void KeepEnterForTheDefault(QDialog* dialog) {
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        button->setAutoDefault(false);
    }
}
