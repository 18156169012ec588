#include "app/PortSetDlg.h"

#include <QLineEdit>

#include <utility>

#include "app/ControlId.h"
#include "app/DialogLayout.h"
#include "app/MessageBox.h"
#include "app/PortSetIds.h"
#include "base/Settings.h"

CPortSetDlg::CPortSetDlg(int comPort, std::string settingsPath, QWidget* parent)
    : QDialog(parent), m_nCom(comPort), m_strSettingsPath(std::move(settingsPath)) {
    const CDialogUnits du = SetUpDialog(this, QStringLiteral("端口设置"), 187, 100);
    m_pEdit = new QLineEdit(this);
    SetControlId(m_pEdit, PortSetIds::IDC_COM_PORT);
    du.Place(m_pEdit, 74, 32, 60, 14);
    AddLabelFor(m_pEdit, du, QStringLiteral("COM:"), 42, 35, 32, 9);
    AddOkCancel(this, du);
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
    if (!WriteComPort(m_strSettingsPath, m_nCom, error)) {
        Msg::Show(this,
                  QStringLiteral("串口号无法写入设置文件:\n") + QString::fromStdString(error));
        return;
    }
    Msg::Show(this, QStringLiteral("设置串口号,需要重启程序"));
    QDialog::accept();
}
