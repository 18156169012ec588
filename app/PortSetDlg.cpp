#include "PortSetDlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "DialogLayout.h"
#include "MessageBox.h"
#include "OrvaneApp.h"
#include "Settings.h"

CPortSetDlg::CPortSetDlg(QWidget* parent) : QDialog(parent), m_nCom(theApp().m_nComPort) {
    setWindowTitle(QStringLiteral("端口设置"));
    setFont(DialogFont());
    const CDialogUnits du(font());
    setFixedSize(du.ToPixels(0, 0, 187, 100).size());

    auto* label = new QLabel(QStringLiteral("COM:"), this);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    du.Place(label, 42, 35, 32, 9);
    m_pEdit = new QLineEdit(this);
    m_pEdit->setObjectName("edit1064");
    du.Place(m_pEdit, 74, 32, 60, 14);
    label->setBuddy(m_pEdit);
    m_pEdit->setAccessibleName(QStringLiteral("COM:"));

    auto* ok = new QPushButton(QStringLiteral("确认"), this);
    ok->setDefault(true);
    du.Place(ok, 39, 79, 50, 14);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    du.Place(cancel, 104, 79, 50, 14);
    connect(ok, &QPushButton::clicked, this, &CPortSetDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CPortSetDlg::reject);
    UpdateData(false);
}

bool CPortSetDlg::UpdateData(bool save) {
    if (!save) {
        m_pEdit->setText(QString::number(m_nCom));
        return true;
    }
    bool isInteger = false;
    const int value = m_pEdit->text().trimmed().toInt(&isInteger);
    if (!isInteger) {
        Msg::Show(this, QStringLiteral("请输入一个整数。"));
    } else if (value < 1 || value > 99) {
        Msg::Show(this, QStringLiteral("请输入一个介于 1 和 99 之间的整数。"));
    } else {
        m_nCom = value;
        return true;
    }
    m_pEdit->setFocus();
    m_pEdit->selectAll();
    return false;
}

void CPortSetDlg::accept() {
    if (!UpdateData(true)) {
        return;
    }
    std::string error;
    if (!WriteComPort(theApp().SettingsPath(), m_nCom, error)) {
        Msg::Show(this,
                  QStringLiteral("串口号无法写入设置文件:\n") + QString::fromStdString(error));
        return;
    }
    Msg::Show(this, QStringLiteral("设置串口号,需要重启程序"));
    QDialog::accept();
}
