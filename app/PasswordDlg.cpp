#include "PasswordDlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "CardWindow.h"
#include "CodePageText.h"
#include "DialogLayout.h"
#include "MessageBox.h"
#include "OrvaneApp.h"

namespace {

constexpr int kMaxBytes = 10;

}  // namespace

CPasswordDlg::CPasswordDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("密码"));
    setFont(DialogFont());
    const CDialogUnits du(font());
    setFixedSize(du.ToPixels(0, 0, 187, 100).size());

    auto* label = new QLabel(QStringLiteral("密码:"), this);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    du.Place(label, 6, 36, 59, 9);
    m_pEdit = new QLineEdit(this);
    m_pEdit->setObjectName("edit1065");
    m_pEdit->setMaxLength(kMaxBytes);
    du.Place(m_pEdit, 65, 34, 88, 14);
    label->setBuddy(m_pEdit);
    m_pEdit->setAccessibleName(QStringLiteral("密码:"));

    auto* ok = new QPushButton(QStringLiteral("确认"), this);
    ok->setDefault(true);
    du.Place(ok, 39, 79, 50, 14);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    du.Place(cancel, 104, 79, 50, 14);
    connect(ok, &QPushButton::clicked, this, &CPasswordDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CPasswordDlg::reject);
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
