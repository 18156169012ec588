#pragma once

#include <QDialog>

#include <string>

class QLineEdit;

// "端口设置": the port number 1 ... 99, written to set.ini for the next start.
class CPortSetDlg : public QDialog {
    Q_OBJECT
public:
    // Shows `comPort`; "确认" writes the new number to the settings file at `settingsPath`.
    CPortSetDlg(int comPort, std::string settingsPath, QWidget* parent = nullptr);

    int m_nCom;

    // Copies the edit to m_nCom (with the range check) or m_nCom to the edit.
    bool UpdateData(bool save);

protected:
    void accept() override;  // "确认"

private:
    QLineEdit* m_pEdit;
    std::string m_strSettingsPath;
};
