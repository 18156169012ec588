#pragma once

#include <QDialog>

// "关于 tessmark": product name, version and the maker's notice.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
