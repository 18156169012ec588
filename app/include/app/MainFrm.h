#pragma once

#include <QMainWindow>

#include <functional>

class QAction;
class QLabel;
class QToolBar;

// Command ids of the menu and toolbar.
enum : int {
    ID_USER_CARD = 32773,
    ID_PORT_SET = 32774,
    ID_MANAGE_CARD = 32775,
    ID_BATCH_ENROL = 32776,
    ID_HISTORY = 32777,         // "操作记录…"
    ID_FEE_SUMMARY = 32778,     // "收费汇总…"
    ID_EXPIRING = 32779,        // "即将到期…"
    ID_REGISTER_PLACE = 32780,  // "卡片登记位置…"
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
};

// The main window: caption "发卡软件", the menu "设置", a toolbar of four commands, the
// status bar with the idle text and three lock-key indicators, and the grey view.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(QWidget* parent = nullptr);

    // What "用户卡" and "管理卡" open ("端口设置" and "关于" are the application's). The card
    // windows are built on this library, so the program hands them in (ConnectCardWindows); until
    // then the commands open nothing.
    void SetCardWindows(std::function<void()> userCard, std::function<void()> manageCard);
    // What "批量登记…" opens (handed in the same way).
    void SetEnrolWindow(std::function<void()> enrol);
    // The window that the menu command `id` opens (the history and its reports).
    void SetCommandWindow(int id, std::function<void()> open);

    // The command of a menu or toolbar id, or nullptr.
    QAction* Command(int id) const;
    QToolBar* ToolBar() const { return m_wndToolBar; }
    // The indicator panes' labels, in the order caps, num, scroll.
    QLabel* Indicator(int index) const { return m_indicators[index]; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnUserCard();
    void OnManageCard();
    void OnBatchEnrol();
    void PreCreateWindow();
    void OnCreate();
    void UpdateIndicators();
    QAction* AddCommand(int id, const QString& text, const QString& prompt, const QString& tip);

    QStatusBar* m_wndStatusBar = nullptr;
    QToolBar* m_wndToolBar = nullptr;
    QLabel* m_indicators[3] = {};
    std::function<void()> m_openUserCard;
    std::function<void()> m_openManageCard;
    std::function<void()> m_openEnrol;
};
