#include "ui/RegisterPlaceDlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <utility>

#include "app/ControlId.h"
#include "app/DialogLayout.h"
#include "app/MessageBox.h"
#include "app/WaitCursor.h"

using namespace RegisterPlaceIds;

CRegisterPlaceDlg::CRegisterPlaceDlg(std::string settingsPath, RegisterPlaceServer server,
                                     QWidget* parent)
    : QDialog(parent),
      m_strSettingsPath(std::move(settingsPath)),
      m_server(std::move(server)),
      m_opened(ReadRegisterPlace(m_strSettingsPath)) {
    const CDialogUnits du = SetUpDialog(this, QStringLiteral("卡片登记位置"), 320, 112);

    m_pFile = new QRadioButton(QStringLiteral("本机文件"), this);
    SetControlId(m_pFile, IDC_PLACE_FILE);
    du.Place(m_pFile, 10, 8, 120, 10);
    m_pServer = new QRadioButton(QStringLiteral("服务器"), this);
    SetControlId(m_pServer, IDC_PLACE_SERVER);
    du.Place(m_pServer, 10, 22, 120, 10);

    m_pConninfo = new QLineEdit(this);
    SetControlId(m_pConninfo, IDC_CONNINFO);
    m_pConninfo->setPlaceholderText(
        QStringLiteral("host=服务器地址 port=5432 dbname=数据库 user=用户名"));
    du.Place(m_pConninfo, 62, 38, 250, 14);
    AddLabelFor(m_pConninfo, du, QStringLiteral("连接字符串:"), 8, 41, 52, 9);

    m_pTest = AddButton(this, IDC_TEST_CONNECTION, "测试连接");
    du.Place(m_pTest, 262, 58, 50, 14);
    auto* note = new QLabel(
        QStringLiteral("密码不保存在 set.ini 中:连接时从 ~/.pgpass 读取,那里没有时在连接时询问。"),
        this);
    SetControlId(note, IDC_PASSWORD_NOTE);
    note->setWordWrap(true);
    du.Place(note, 62, 58, 192, 24);

    auto* ok = AddButton(this, IDC_PLACE_OK, "确定");
    ok->setDefault(true);
    du.Place(ok, 196, 92, 50, 14);
    auto* cancel = AddButton(this, IDC_PLACE_CANCEL, "取消");
    du.Place(cancel, 262, 92, 50, 14);

    (m_opened.onServer ? m_pServer : m_pFile)->setChecked(true);
    m_pConninfo->setText(QString::fromStdString(m_opened.conninfo));
    UpdateControls();

    connect(m_pServer, &QRadioButton::toggled, this, &CRegisterPlaceDlg::UpdateControls);
    connect(m_pTest, &QPushButton::clicked, this, &CRegisterPlaceDlg::OnTestConnection);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    KeepEnterForTheDefault(this);
}

void CRegisterPlaceDlg::UpdateControls() {
    const bool onServer = m_pServer->isChecked();
    m_pConninfo->setEnabled(onServer);
    m_pTest->setEnabled(onServer);
}

bool CRegisterPlaceDlg::TakeConninfo(std::string& conninfo) {
    conninfo = m_pConninfo->text().trimmed().toStdString();
    std::string error;
    if (conninfo.empty()) {
        Msg::Show(this, QStringLiteral("请输入服务器的连接字符串。"));
    } else if (!m_server.check(conninfo, error)) {
        Msg::Show(this, QStringLiteral("连接字符串有误:\n") + QString::fromStdString(error));
    } else {
        return true;
    }
    m_pConninfo->setFocus();
    m_pConninfo->selectAll();
    return false;
}

void CRegisterPlaceDlg::OnTestConnection() {
    std::string conninfo;
    if (!TakeConninfo(conninfo)) {
        return;
    }
    QString result;
    {
        WaitCursor wait;
        result = m_server.testConnection(conninfo);
    }
    Msg::Show(this, result, QMessageBox::Information);
}

void CRegisterPlaceDlg::accept() {
    RegisterPlace place = m_opened;
    place.onServer = m_pServer->isChecked();
    if (place.onServer) {
        std::string conninfo;
        if (!TakeConninfo(conninfo)) {
            return;
        }
        place.conninfo = m_server.withoutPassword(conninfo);
    }
    std::string error;
    if (!WriteRegisterPlace(m_strSettingsPath, place, error)) {
        Msg::Show(this, QStringLiteral("卡片登记位置无法写入设置文件:\n") +
                            QString::fromStdString(error));
        return;
    }
    if (place.onServer != m_opened.onServer ||
        (place.onServer && place.conninfo != m_opened.conninfo)) {
        Msg::Show(this, QStringLiteral("新的卡片登记位置在程序下次启动时使用。"),
                  QMessageBox::Information);
    }
    QDialog::accept();
}
