#pragma once

#include <QDialog>

#include <string>

class QLineEdit;

// "密码": the ten-digit system password, handed to the card window that opened the dialog
// and made the application's current password.
class CPasswordDlg : public QDialog {
    Q_OBJECT
public:
    explicit CPasswordDlg(QWidget* parent = nullptr);

    int m_nTarget = 0;  // 0: the user-card window, 1: the management-card dialog
    std::string m_strPassword;

    void UpdateData(bool save);
    int exec() override;  // opens with the application's current password

protected:
    void accept() override;  // "确认"

private:
    void OnInitDialog();
    QLineEdit* m_pEdit;
};
