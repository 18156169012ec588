#include "app/PasswordDlg.h"

#include <QLineEdit>

#include "app/ByteLimit.h"
#include "app/CodePageText.h"
#include "app/ControlId.h"
#include "app/DialogLayout.h"
#include "app/MessageBox.h"
#include "app/PasswordIds.h"
#include "base/TextCheck.h"

namespace {

constexpr int kMaxBytes = 10;

}  // namespace

CPasswordDlg::CPasswordDlg(const std::string& current, QWidget* parent) : QDialog(parent) {
    const CDialogUnits du = SetUpDialog(this, QStringLiteral("密码"), 187, 100);
    m_pEdit = new QLineEdit(this);
    SetControlId(m_pEdit, PasswordIds::IDC_PASSWORD);
    SetByteLimit(m_pEdit, kMaxBytes);
    du.Place(m_pEdit, 65, 34, 88, 14);
    AddLabelFor(m_pEdit, du, QStringLiteral("密码:"), 6, 36, 59, 9);
    AddOkCancel(this, du);
    m_strPassword = current;
    UpdateData(false);
}

void CPasswordDlg::UpdateData(bool save) {
    if (save) {
        // Whole: a longer password (shown from set.ini) fails the digit check instead of
        // being cut into another one.
        m_strPassword = ToCodePage(m_pEdit->text());
    } else {
        ShowWholeText(m_pEdit, FromCodePage(m_strPassword));
    }
}

void CPasswordDlg::accept() {
    UpdateData(true);
    if (!IsDigits(m_strPassword, 10)) {
        Msg::Show(this, QStringLiteral("输入10个数字!"), QMessageBox::NoIcon);
        return;
    }
    QDialog::accept();
}

bool AskSystemPassword(std::string& sysPassword, std::string& working, QWidget* parent) {
    CPasswordDlg dialog(sysPassword, parent);
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    working = dialog.m_strPassword;
    sysPassword = dialog.m_strPassword;
    return true;
}
