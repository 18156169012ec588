#include "app/MainFrm.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>

#include "app/AppIcon.h"
#include "app/LockKeys.h"
#include "app/OrvaneView.h"
#include "app/ToolbarIcons.h"

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) {
    setObjectName("mainFrame");
    PreCreateWindow();
    OnCreate();
}

void CMainFrame::PreCreateWindow() {
    setWindowTitle(QStringLiteral("发卡软件"));
    setWindowIcon(AppIcon());
}

QAction* CMainFrame::AddCommand(int id, const QString& text, const QString& prompt,
                                const QString& tip) {
    auto* action = new QAction(text, this);
    action->setData(id);
    action->setStatusTip(prompt);
    action->setToolTip(tip);
    return action;
}

QAction* CMainFrame::Command(int id) const {
    for (QAction* action : findChildren<QAction*>()) {
        if (action->data().toInt() == id) {
            return action;
        }
    }
    return nullptr;
}

void CMainFrame::OnCreate() {
    QAction* userCard = AddCommand(ID_USER_CARD, QStringLiteral("用户卡"), QStringLiteral("用户卡"),
                                   QStringLiteral("用户卡"));
    QAction* manageCard = AddCommand(ID_MANAGE_CARD, QStringLiteral("管理卡"),
                                     QStringLiteral("管理卡"), QStringLiteral("管理卡"));
    QAction* portSet = AddCommand(ID_PORT_SET, QStringLiteral("端口设置"),
                                  QStringLiteral("端口设置"), QStringLiteral("端口设置"));
    QAction* registerPlace = AddCommand(ID_REGISTER_PLACE, QStringLiteral("卡片登记位置…"),
                                        QStringLiteral("选择卡片登记放在本机文件还是服务器上"),
                                        QStringLiteral("卡片登记位置"));
    QAction* enrol =
        AddCommand(ID_BATCH_ENROL, QStringLiteral("批量登记…"),
                   QStringLiteral("从住户名单(CSV或xlsx)批量登记卡片"), QStringLiteral("批量登记"));
    QAction* history =
        AddCommand(ID_HISTORY, QStringLiteral("操作记录…"),
                   QStringLiteral("查看每一次修改卡片登记的记录"), QStringLiteral("操作记录"));
    QAction* fees =
        AddCommand(ID_FEE_SUMMARY, QStringLiteral("收费汇总…"),
                   QStringLiteral("按日或按月汇总收到的费用"), QStringLiteral("收费汇总"));
    QAction* expiring =
        AddCommand(ID_EXPIRING, QStringLiteral("即将到期…"),
                   QStringLiteral("列出即将到期或已经到期的卡片"), QStringLiteral("即将到期"));
    QAction* about =
        AddCommand(ID_APP_ABOUT, QStringLiteral("关于"),
                   QStringLiteral("显示程序信息，版本号和版权"), QStringLiteral("关于"));
    QAction* exit =
        AddCommand(ID_APP_EXIT, QStringLiteral("退出(&X)"),
                   QStringLiteral("退出应用程序；提示保存文档"), QStringLiteral("退出"));
    userCard->setIcon(UserCardIcon());
    manageCard->setIcon(ManageCardIcon());
    portSet->setIcon(PortSettingsIcon());
    about->setIcon(AboutIcon());
    connect(userCard, &QAction::triggered, this, &CMainFrame::OnUserCard);
    connect(manageCard, &QAction::triggered, this, &CMainFrame::OnManageCard);
    connect(enrol, &QAction::triggered, this, &CMainFrame::OnBatchEnrol);
    connect(exit, &QAction::triggered, this, &QWidget::close);

    QMenu* settings = menuBar()->addMenu(QStringLiteral("设置"));
    settings->addAction(userCard);
    settings->addAction(manageCard);
    settings->addAction(portSet);
    settings->addAction(registerPlace);
    settings->addAction(enrol);
    settings->addSeparator();
    settings->addAction(history);
    settings->addAction(fees);
    settings->addAction(expiring);
    settings->addSeparator();
    settings->addAction(exit);

    m_wndToolBar = new QToolBar(QStringLiteral("工具栏"), this);
    m_wndToolBar->setObjectName("toolBar");
    m_wndToolBar->setIconSize(QSize(32, 32));
    m_wndToolBar->setMovable(true);
    m_wndToolBar->setFloatable(true);
    m_wndToolBar->setAllowedAreas(Qt::AllToolBarAreas);
    m_wndToolBar->addAction(userCard);
    m_wndToolBar->addAction(manageCard);
    m_wndToolBar->addAction(portSet);
    m_wndToolBar->addAction(about);
    addToolBar(Qt::TopToolBarArea, m_wndToolBar);

    m_wndStatusBar = statusBar();
    m_wndStatusBar->setObjectName("statusBar");
    auto* idle = new QLabel(QStringLiteral("就绪"), m_wndStatusBar);
    idle->setObjectName("idleText");
    m_wndStatusBar->addWidget(idle, 1);
    const char* const texts[3] = {"大写", "数字", "滚动"};
    for (int i = 0; i < 3; ++i) {
        m_indicators[i] = new QLabel(QString::fromUtf8(texts[i]), m_wndStatusBar);
        m_indicators[i]->setFrameShape(QFrame::Panel);
        m_indicators[i]->setFrameShadow(QFrame::Sunken);
        m_indicators[i]->setAlignment(Qt::AlignCenter);
        m_indicators[i]->setMinimumWidth(m_indicators[i]->sizeHint().width() + 12);
        m_wndStatusBar->addPermanentWidget(m_indicators[i]);
    }
    UpdateIndicators();
    qApp->installEventFilter(this);

    setCentralWidget(new COrvaneView(this));
}

void CMainFrame::SetCardWindows(std::function<void()> userCard, std::function<void()> manageCard) {
    m_openUserCard = std::move(userCard);
    m_openManageCard = std::move(manageCard);
}

void CMainFrame::SetEnrolWindow(std::function<void()> enrol) {
    m_openEnrol = std::move(enrol);
}

void CMainFrame::SetCommandWindow(int id, std::function<void()> open) {
    if (QAction* action = Command(id); action != nullptr) {
        connect(action, &QAction::triggered, this, [open = std::move(open)] { open(); });
    }
}

void CMainFrame::OnBatchEnrol() {
    if (m_openEnrol) {
        m_openEnrol();
    }
}

void CMainFrame::OnUserCard() {
    if (m_openUserCard) {
        m_openUserCard();
    }
}

void CMainFrame::OnManageCard() {
    if (m_openManageCard) {
        m_openManageCard();
    }
}

void CMainFrame::UpdateIndicators() {
    const LockKey keys[3] = {LockKey::Caps, LockKey::Num, LockKey::Scroll};
    for (int i = 0; i < 3; ++i) {
        // A lock that is off shows its text greyed.
        m_indicators[i]->setEnabled(IsLockKeyOn(keys[i]));
    }
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyRelease) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_CapsLock || key == Qt::Key_NumLock || key == Qt::Key_ScrollLock) {
            UpdateIndicators();
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
