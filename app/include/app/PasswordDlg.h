#pragma once

#include <QDialog>

#include <string>

class QLineEdit;

// "密码": asks for the ten-digit system password. It opens showing `current` (the
// application's current password); once accepted, m_strPassword holds the new one for the
// caller, which takes it as its working password and as the application's.
class CPasswordDlg : public QDialog {
    Q_OBJECT
public:
    explicit CPasswordDlg(const std::string& current, QWidget* parent = nullptr);

    std::string m_strPassword;

    void UpdateData(bool save);

protected:
    void accept() override;  // "确认": only ten digits close the dialog

private:
    QLineEdit* m_pEdit;
};

// Asks for the system password, showing `sysPassword`; once the operator accepts, the new one
// becomes both `sysPassword` and the window's `working` password (true).
bool AskSystemPassword(std::string& sysPassword, std::string& working, QWidget* parent);
