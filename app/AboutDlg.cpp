#include "app/AboutDlg.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

#include "app/AppIcon.h"
#include "app/DialogLayout.h"
#include "base/Version.h"

CAboutDlg::CAboutDlg(const std::string& registerPath, QWidget* parent, const QString& caption)
    : QDialog(parent) {
    const QString path = QString::fromStdString(registerPath);
    const CDialogUnits du = SetUpDialog(this, QStringLiteral("关于 tessmark"), 235, 78);

    auto* icon = new QLabel(this);
    const QRect iconRect = du.ToPixels(11, 17, 20, 20);
    icon->setObjectName("icon");
    icon->setPixmap(AppIconPixmap(iconRect.height()));
    icon->setGeometry(iconRect);
    auto* version = new QLabel(QStringLiteral("tessmark %1 版").arg(kOrvaneVersion), this);
    version->setObjectName("version");
    du.Place(version, 40, 10, 119, 8);
    auto* notice =
        new QLabel(QStringLiteral("小区门禁发卡管理软件\n版权所有 (C) 2026 tessmark 开发组"), this);
    notice->setObjectName("notice");
    du.Place(notice, 40, 25, 157, 17);
    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setDefault(true);
    du.Place(ok, 178, 7, 50, 14);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    // Where the register (and set.ini beside it) is: selectable, so that it can be copied.
    auto* captionLabel = new QLabel(caption, this);
    du.Place(captionLabel, 11, 50, 100, 8);
    auto* where = new QLabel(path, this);
    where->setObjectName("register");
    where->setTextInteractionFlags(Qt::TextSelectableByMouse);
    where->setToolTip(path);
    where->setAccessibleName(captionLabel->text());
    QRect whereRect = du.ToPixels(11, 61, 217, 10);
    // A long path widens the dialog, up to the screen; beyond that its middle is left out.
    const int needed = QFontMetrics(where->font()).horizontalAdvance(path) + 4;
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int margin = width() - whereRect.right();
    const int most = screen != nullptr ? screen->availableGeometry().width() - 40 : 1000;
    if (needed > whereRect.width()) {
        const int wider = std::min(needed, most - whereRect.left() - margin);
        const int grown = whereRect.left() + wider + margin - width();
        setFixedWidth(width() + grown);
        ok->move(ok->x() + grown, ok->y());  // staying at the right edge
        whereRect.setWidth(wider);
        if (wider < needed) {
            where->setText(
                QFontMetrics(where->font()).elidedText(path, Qt::ElideMiddle, wider - 4));
        }
    }
    where->setGeometry(whereRect);
    KeepEnterForTheDefault(this);
}
