#include "app/PortSetDlg.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <climits>
#include <cstdlib>
#include <utility>

#include "app/ControlId.h"
#include "app/DialogLayout.h"
#include "app/MessageBox.h"
#include "app/PortSetIds.h"
#include "base/Settings.h"
#include "serial/PortName.h"

using namespace PortSetIds;

namespace {

// The file that `path` finally leads to, or empty when it leads nowhere.
std::string FinalPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

QString Text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

}  // namespace

QString PortSetText(int comPort) {
    return QStringLiteral("端口已设置为COM%1,正在连接读卡器。").arg(comPort);
}

CPortSetDlg::CPortSetDlg(int comPort, std::string appDir, std::string settingsPath,
                         const ISerialDeviceSource& devices, Connect connect, QWidget* parent)
    : QDialog(parent),
      m_nCom(comPort),
      m_devices(devices.List()),
      m_strAppDir(std::move(appDir)),
      m_strSettingsPath(std::move(settingsPath)),
      m_connect(std::move(connect)) {
    const CDialogUnits du = SetUpDialog(this, QStringLiteral("端口设置"), 320, 180);
    m_pEdit = new QLineEdit(this);
    SetControlId(m_pEdit, IDC_COM_PORT);
    du.Place(m_pEdit, 42, 10, 60, 14);
    AddLabelFor(m_pEdit, du, QStringLiteral("COM:"), 8, 13, 32, 9);

    m_pDevices = new QTreeWidget(this);
    SetControlId(m_pDevices, IDC_DEVICE_LIST);
    m_pDevices->setRootIsDecorated(false);
    m_pDevices->setSelectionMode(QAbstractItemView::SingleSelection);
    QStringList headers(COL_COUNT);
    headers[COL_CURRENT] = QStringLiteral("当前");
    headers[COL_MAKER] = QStringLiteral("厂商");
    headers[COL_MODEL] = QStringLiteral("型号");
    headers[COL_NODE] = QStringLiteral("设备");
    headers[COL_NAME] = QStringLiteral("名称");
    m_pDevices->setHeaderLabels(headers);
    du.Place(m_pDevices, 8, 44, 304, 108);
    auto* label = new QLabel(QStringLiteral("串口设备(选中一个,端口即指向它):"), this);
    label->setBuddy(m_pDevices);
    m_pDevices->setAccessibleName(QStringLiteral("串口设备"));
    du.Place(label, 8, 32, 304, 9);

    AddOkCancel(this, du);
    for (QPushButton* button : findChildren<QPushButton*>()) {
        du.Place(button, button->text() == QStringLiteral("确认") ? 196 : 262, 160, 50, 14);
    }
    FillDeviceList();
    UpdateData(false);
}

void CPortSetDlg::FillDeviceList() {
    const std::string current = FinalPath(ResolveComDevice(m_strAppDir, m_nCom));
    for (const SerialDevice& device : m_devices) {
        auto* row = new QTreeWidgetItem(m_pDevices);
        const bool isCurrent = !current.empty() && FinalPath(device.node) == current;
        row->setText(COL_CURRENT, isCurrent ? QStringLiteral("当前") : QString());
        row->setText(COL_NAME, Text(device.stableName));
        row->setText(COL_NODE, Text(device.node));
        row->setText(COL_MAKER, Text(device.maker));
        row->setText(COL_MODEL, Text(device.model));
    }
    for (int column = 0; column < COL_COUNT; ++column) {
        m_pDevices->resizeColumnToContents(column);
    }
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
    const QList<QTreeWidgetItem*> chosen = m_pDevices->selectedItems();
    if (!chosen.isEmpty()) {
        const SerialDevice& device = m_devices[m_pDevices->indexOfTopLevelItem(chosen[0])];
        if (!PointComEntry(m_strAppDir, m_nCom, device.stableName, error)) {
            Msg::Show(this, QStringLiteral("端口无法指向所选的设备:\n") + Text(error));
            return;
        }
    }
    if (!WriteComPort(m_strSettingsPath, m_nCom, error)) {
        Msg::Show(this, QStringLiteral("串口号无法写入设置文件:\n") + Text(error));
        return;
    }
    Msg::Show(this, PortSetText(m_nCom) + QLatin1Char('\n') + m_connect(m_nCom));
    QDialog::accept();
}
