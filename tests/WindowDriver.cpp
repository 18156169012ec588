#include "WindowDriver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>

#include "GuiTestUtil.h"
#include "app/AboutDlg.h"
#include "app/OrvaneApp.h"
#include "app/PasswordDlg.h"
#include "app/PortSetDlg.h"
#include "ui/EnrolDlg.h"
#include "ui/ListCtrlCl.h"
#include "ui/ManageCardDlg.h"

std::unique_ptr<CUserCardDlg> NewUserCardWindow(COrvaneApp& app) {
    return std::make_unique<CUserCardDlg>(app.Desk());
}

std::unique_ptr<CManageCardDlg> NewManageCardDialog(COrvaneApp& app) {
    return std::make_unique<CManageCardDlg>(app.Desk());
}

std::unique_ptr<CPasswordDlg> NewPasswordDialog(const std::string& current) {
    return std::make_unique<CPasswordDlg>(current);
}

std::unique_ptr<CPortSetDlg> NewPortDialog(COrvaneApp& app) {
    return app.PortDialog(nullptr);
}

std::unique_ptr<CAboutDlg> NewAboutDialog(const std::string& registerPath) {
    return std::make_unique<CAboutDlg>(registerPath);
}

std::unique_ptr<CEnrolDlg> NewEnrolDialog(COrvaneApp& app) {
    return std::make_unique<CEnrolDlg>(app.Desk());
}

void WindowDriver::Open(QWidget* window, QSize size) {
    Drive(window);
    window->show();
    if (size.isValid()) {
        window->showNormal();
        window->resize(size);
    }
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window)) << window->windowTitle().toStdString();
}

QWidget* WindowDriver::Control(int id) const {
    if (m_window == nullptr) {
        ADD_FAILURE() << "no window to find control " << id << " in";
        return nullptr;
    }
    QWidget* control = FindControl(m_window, id);
    EXPECT_NE(control, nullptr) << "no control " << id << " in "
                                << m_window->windowTitle().toStdString();
    return control;
}

QDateTimeEdit* WindowDriver::Picker(int id) const {
    return Control<QDateTimeEdit>(id);
}

void WindowDriver::Click(int id) const {
    if (QWidget* control = Control(id)) {
        ClickControl(control);
    }
}

void WindowDriver::ClickButton(const QString& text) const {
    QPushButton* button = m_window != nullptr ? Button(m_window, text) : nullptr;
    EXPECT_NE(button, nullptr) << "no button " << text.toStdString();
    if (button != nullptr) {
        QTest::mouseClick(button, Qt::LeftButton);
    }
}

void WindowDriver::Type(int id, const QString& text) const {
    QWidget* control = Control(id);
    if (auto* combo = qobject_cast<QComboBox*>(control); combo != nullptr && combo->isEditable()) {
        TypeInto(combo->lineEdit(), text);
    } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        TypeInto(edit, text);
    } else {
        ADD_FAILURE() << "control " << id << " takes no typing";
    }
}

void WindowDriver::Choose(int id, const QString& item) const {
    auto* combo = Control<QComboBox>(id);
    if (combo == nullptr) {
        return;
    }
    const int index = combo->findText(item);
    EXPECT_GE(index, 0) << "control " << id << " has no entry " << item.toStdString();
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Home);
    for (int i = 0; i < index; ++i) {
        QTest::keyClick(combo, Qt::Key_Down);
    }
    EXPECT_EQ(combo->currentText(), item);
}

void WindowDriver::PressEnter(int id) const {
    QWidget* control = Control(id);
    if (auto* combo = qobject_cast<QComboBox*>(control); combo != nullptr && combo->isEditable()) {
        ::PressEnter(combo->lineEdit());
    } else if (control != nullptr) {
        ::PressEnter(control);
    }
}

bool WindowDriver::ClickIntoDialog(int id, const std::function<void(QWidget& dialog)>& operate) {
    bool opened = false;
    // Fires in the dialog's event loop; ends with this function when no dialog opened.
    QTimer inDialog;
    inDialog.setSingleShot(true);
    QObject::connect(&inDialog, &QTimer::timeout, [&] {
        const QPointer<QWidget> dialog = QApplication::activeModalWidget();
        if (dialog == nullptr || dialog == m_window) {
            return;
        }
        opened = true;
        const QPointer<QWidget> driven = m_window;
        m_window = dialog;
        operate(*dialog);
        m_window = driven;
        if (dialog != nullptr && dialog->isVisible()) {
            ADD_FAILURE() << "the dialog " << dialog->windowTitle().toStdString()
                          << " is still open";
            if (auto* modal = qobject_cast<QDialog*>(dialog.data())) {
                modal->reject();
            }
        }
    });
    inDialog.start(0);
    Click(id);
    return opened;
}

QString WindowDriver::Text(int id) const {
    QWidget* control = Control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        return edit->text();
    }
    if (auto* combo = qobject_cast<QComboBox*>(control)) {
        return combo->currentText();
    }
    if (auto* picker = qobject_cast<QDateTimeEdit*>(control)) {
        return picker->text();
    }
    if (auto* label = qobject_cast<QLabel*>(control)) {
        return label->text();
    }
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        return button->text();
    }
    ADD_FAILURE() << "control " << id << " shows no text";
    return QString();
}

bool WindowDriver::Checked(int id) const {
    auto* button = Control<QAbstractButton>(id);
    return button != nullptr && button->isChecked();
}

bool WindowDriver::Enabled(int id) const {
    QWidget* control = Control(id);
    return control != nullptr && control->isEnabled();
}

CListCtrlCl* WindowDriver::List() const {
    CListCtrlCl* list = m_window != nullptr ? m_window->findChild<CListCtrlCl*>() : nullptr;
    EXPECT_NE(list, nullptr) << "the window has no list";
    return list;
}

int WindowDriver::Rows() const {
    const CListCtrlCl* list = List();
    return list != nullptr ? list->GetItemCount() : 0;
}

QStringList WindowDriver::Row(int row) const {
    QStringList cells;
    if (const CListCtrlCl* list = List()) {
        for (int column = 0; column < list->Model()->columnCount(); ++column) {
            cells << list->GetItemText(row, column);
        }
    }
    return cells;
}

QString WindowDriver::Cell(int row, int column) const {
    const CListCtrlCl* list = List();
    return list != nullptr ? list->GetItemText(row, column) : QString();
}

QStringList WindowDriver::Column(int column) const {
    QStringList cells;
    for (int row = 0; row < Rows(); ++row) {
        cells << Cell(row, column);
    }
    return cells;
}

void WindowDriver::ClickRow(int row) const {
    if (CListCtrlCl* list = List()) {
        ClickListRow(*list, row);
    }
}

int WindowDriver::RowOf(const std::string& key, bool mustExist) const {
    if (const CListCtrlCl* list = List()) {
        for (int row = 0; row < list->GetItemCount(); ++row) {
            if (list->ItemKey(row) == key) {
                return row;
            }
        }
    }
    EXPECT_FALSE(mustExist) << "no row of " << key;
    return -1;
}

QStringList WindowDriver::Messages() const {
    QStringList texts;
    for (const Msg::Shown& box : boxes.shown()) {
        texts << box.text;
    }
    return texts;
}

QString WindowDriver::Message(size_t n) const {
    if (!QTest::qWaitFor([&] { return boxes.shown().size() >= n; }, 10000)) {
        return QStringLiteral("(no message)");
    }
    return boxes.shown()[n - 1].text;
}

void UserCardTest::Create() {
    window.reset();
    window = NewUserCardWindow(app);
    Drive(window.get());
}

void UserCardTest::Open(QSize size) {
    Create();
    WindowDriver::Open(window.get(), size);
}

CCard& UserCardTest::Add(const std::string& key, int number, uint8_t status) {
    auto card = MakeCard(key, number);
    card->m_nStatus = status;
    CCard* stored = app.m_mapCards.SetAt(key, std::move(card));
    app.m_nMaxNumber = std::max<uint32_t>(app.m_nMaxNumber, static_cast<uint32_t>(number));
    return *stored;
}

std::vector<std::string> UserCardTest::Listed() const {
    std::vector<std::string> keys;
    for (const QString& cardNo : Column(2)) {
        keys.push_back(cardNo.toStdString());
    }
    return keys;
}

std::vector<std::string> UserCardTest::InRegisterOrder() const {
    std::vector<std::string> keys;
    for (const CCardMap::CAssoc& entry : app.m_mapCards) {
        keys.push_back(entry.key.str());
    }
    return keys;
}

std::vector<std::string> UserCardTest::InRegisterOrder(const std::set<std::string>& keys) const {
    std::vector<std::string> ordered;
    for (const std::string& key : InRegisterOrder()) {
        if (keys.count(key) != 0) {
            ordered.push_back(key);
        }
    }
    return ordered;
}
