#pragma once

#include <QDialog>

class QLineEdit;

// "端口设置": the port number 1 ... 99, written to set.ini for the next start.
class CPortSetDlg : public QDialog {
    Q_OBJECT
public:
    explicit CPortSetDlg(QWidget* parent = nullptr);

    int m_nCom;

    // Copies the edit to m_nCom (with the range check) or m_nCom to the edit.
    bool UpdateData(bool save);

protected:
    void accept() override;  // "确认"

private:
    QLineEdit* m_pEdit;
};
