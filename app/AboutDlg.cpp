#include "app/AboutDlg.h"

#include <QLabel>
#include <QPushButton>

#include "app/AppIcon.h"
#include "app/DialogLayout.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    const CDialogUnits du = SetUpDialog(this, QStringLiteral("关于 tessmark"), 235, 55);

    auto* icon = new QLabel(this);
    const QRect iconRect = du.ToPixels(11, 17, 20, 20);
    icon->setObjectName("icon");
    icon->setPixmap(AppIconPixmap(iconRect.height()));
    icon->setGeometry(iconRect);
    auto* version = new QLabel(QStringLiteral("tessmark 1.0 版"), this);
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
    KeepEnterForTheDefault(this);
}
