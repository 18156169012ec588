#pragma once

#include <QDialog>

#include <string>

// "关于 tessmark": product name, version, the maker's notice and where the register file is.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    // `registerPath` is where the register is: a file, or with `caption` "卡片登记服务器:" a
    // server.
    explicit CAboutDlg(const std::string& registerPath, QWidget* parent = nullptr,
                       const QString& caption = QStringLiteral("卡片登记文件:"));
};
