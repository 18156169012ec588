#include "PasswordDlg.h"

#include <QLineEdit>

#include "CardWindow.h"
#include "CodePageText.h"
#include "DialogLayout.h"
#include "MessageBox.h"
#include "OrvaneApp.h"

namespace {

constexpr int kMaxBytes = 10;

}  // namespace

CPasswordDlg::CPasswordDlg(QWidget* parent) : QDialog(parent) {
    const CDialogUnits du = SetUpDialog(this, QStringLiteral("密码"), 187, 100);
    m_pEdit = new QLineEdit(this);
    m_pEdit->setObjectName("edit1065");
    m_pEdit->setMaxLength(kMaxBytes);
    du.Place(m_pEdit, 65, 34, 88, 14);
    AddLabelFor(m_pEdit, du, QStringLiteral("密码:"), 6, 36, 59, 9);
    AddOkCancel(this, du);
    OnInitDialog();
}

void CPasswordDlg::OnInitDialog() {
    m_strPassword = theApp().m_strSysPassword;
    UpdateData(false);
}

int CPasswordDlg::exec() {
    OnInitDialog();
    return QDialog::exec();
}

void CPasswordDlg::UpdateData(bool save) {
    if (save) {
        m_strPassword = ToCodePage(m_pEdit->text(), kMaxBytes);
    } else {
        m_pEdit->setText(FromCodePage(m_strPassword));
    }
}

void CPasswordDlg::accept() {
    UpdateData(true);
    if (!theApp().IsDigits(m_strPassword, 10)) {
        Msg::Show(this, QStringLiteral("输入10个数字!"), QMessageBox::NoIcon);
        return;
    }
    if (auto* window = dynamic_cast<CCardWindow*>(theApp().m_pCardWnd.data())) {
        window->m_strPassword = m_strPassword;
    }
    theApp().m_strSysPassword = m_strPassword;
    UpdateData(false);
    QDialog::accept();
}
