#pragma once

#include <QDialog>

#include <string>

// "关于 tessmark": product name, version, the maker's notice and where the register file is.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(const std::string& registerPath, QWidget* parent = nullptr);
};
