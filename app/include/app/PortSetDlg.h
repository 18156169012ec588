#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <string>
#include <vector>

#include "serial/SerialDevices.h"

class QLineEdit;
class QTreeWidget;

// "端口设置": the port number 1 ... 99, written to set.ini, and the serial devices present.
// A device chosen in the list becomes the port's entry COM<n> (a link to its stable name).
// "确认" then connects the program to the port at once.
class CPortSetDlg : public QDialog {
    Q_OBJECT
public:
    // Opens the port anew with the port number; returns what became of it, for the operator.
    using Connect = std::function<QString(int comPort)>;

    // Shows `comPort` and the devices of `devices`, the one that the port's entry in `appDir`
    // leads to marked. "确认" writes the number to the settings file at `settingsPath`, points
    // the entry at the chosen device and runs `connect`.
    CPortSetDlg(int comPort, std::string appDir, std::string settingsPath,
                const ISerialDeviceSource& devices, Connect connect, QWidget* parent = nullptr);

    int m_nCom;
    // The devices as listed, row by row.
    std::vector<SerialDevice> m_devices;

    // Copies the edit to m_nCom (with the range check) or m_nCom to the edit.
    bool UpdateData(bool save);

protected:
    void accept() override;  // "确认"

private:
    void FillDeviceList();

    QLineEdit* m_pEdit;
    QTreeWidget* m_pDevices;
    std::string m_strAppDir;
    std::string m_strSettingsPath;
    Connect m_connect;
};

// The first line of the message after "确认": the port is set and being connected.
QString PortSetText(int comPort);
