#pragma once

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "app/ControlId.h"
#include "app/MessageBox.h"
#include "app/OrvaneApp.h"
#include "register/Card.h"
#include "ui/UserCardDlg.h"

class CAboutDlg;
class CEnrolDlg;
class COrvaneApp;
class CListCtrlCl;
class CManageCardDlg;
class CPasswordDlg;
class CPortSetDlg;
class QDateTimeEdit;

// The program's windows as the tests create them: the one place that calls their constructors.
std::unique_ptr<CUserCardDlg> NewUserCardWindow(COrvaneApp& app);
std::unique_ptr<CManageCardDlg> NewManageCardDialog(COrvaneApp& app);
std::unique_ptr<CPasswordDlg> NewPasswordDialog(const std::string& current);
std::unique_ptr<CPortSetDlg> NewPortDialog(COrvaneApp& app);
std::unique_ptr<CAboutDlg> NewAboutDialog(const std::string& registerPath);
std::unique_ptr<CEnrolDlg> NewEnrolDialog(COrvaneApp& app);

// Drives one window as an operator does: mouse clicks on its controls, found by their ids
// (app/ControlId.h), typing into its edits, clicks on the rows of its card list. While the
// driver exists, message boxes are not shown: each is recorded and answered (Msg::Recorder).
// A control that the window lacks fails the test.
class WindowDriver {
public:
    // Shows `window` (at `size` when given, otherwise as the window opens itself), waits until
    // it is exposed and drives it from then on.
    void Open(QWidget* window, QSize size = QSize());
    // Drives `window` as it is, shown or not.
    void Drive(QWidget* window) { m_window = window; }

    // The control with the id `id`, or nullptr (the test fails).
    QWidget* Control(int id) const;
    template <class T>
    T* Control(int id) const {
        T* control = qobject_cast<T*>(Control(id));
        EXPECT_NE(control, nullptr)
            << "control " << id << " is no " << T::staticMetaObject.className();
        return control;
    }
    QDateTimeEdit* Picker(int id) const;

    // A left click on the control, near its left edge where a box's square is.
    void Click(int id) const;
    // A left click on the push button that shows `text` (a button without an id).
    void ClickButton(const QString& text) const;
    // Replaces the text of an edit, or of an editable combo, as an operator types it.
    void Type(int id, const QString& text) const;
    // Chooses the entry `item` of a combo with the keyboard, as an operator does: the
    // control gets the focus, Home goes to the first entry and Down to the item.
    void Choose(int id, const QString& item) const;
    // Enter pressed in the control (in an editable combo: in its edit), which gets the focus.
    void PressEnter(int id) const;
    // Clicks `id`, which opens a modal dialog, and runs `operate` while the dialog is open; the
    // driver's operations act on the dialog until `operate` returns. A dialog that `operate`
    // leaves open is rejected and fails the test. False when no dialog opened.
    bool ClickIntoDialog(int id, const std::function<void(QWidget& dialog)>& operate);

    // What the control shows: the text of an edit, a picker, a label or a button, a combo's
    // current text.
    QString Text(int id) const;
    bool Checked(int id) const;
    bool Enabled(int id) const;

    // The rows of the window's card list.
    int Rows() const;
    // The cell texts of a row, column by column.
    QStringList Row(int row) const;
    QString Cell(int row, int column) const;
    // The cell texts of a column, top to bottom.
    QStringList Column(int column) const;
    void ClickRow(int row) const;
    // The row of the card under `key` in the window's card list; -1 when it has none (which
    // fails the test unless `mustExist` is false).
    int RowOf(const std::string& key, bool mustExist = true) const;

    // The next message box is answered with `answer` (without one: its first button).
    void AnswerNext(QMessageBox::StandardButton answer) { boxes.QueueAnswer(answer); }
    // The texts of the boxes shown so far.
    QStringList Messages() const;
    // The text of the n-th box (from 1), waiting up to ten seconds for it; "(no message)" when
    // none came.
    QString Message(size_t n) const;

    Msg::Recorder boxes;

private:
    // The window's card list, or nullptr (the test fails).
    CListCtrlCl* List() const;

    QPointer<QWidget> m_window;
};

// A window test in a fresh program folder: the folder, the application object over it and
// the driver.
class WindowTest : public ::testing::Test, public WindowDriver {
protected:
    // A file in the folder, as a file dialog answers with it.
    QString Path(const std::string& name) const { return QString::fromStdString(dir / name); }

    TempDir dir;
    COrvaneApp app{dir.path()};
};

// A test of the user-card window.
class UserCardTest : public WindowTest {
protected:
    // A new window (replacing the last), not shown, driven from then on.
    void Create();
    // A new window, opened as WindowDriver::Open() opens a window.
    void Open(QSize size = QSize());

    // A card in the register under `key`, raising the register's highest serial number.
    CCard& Add(const std::string& key, int number, uint8_t status = CARD_NOT_ISSUED);
    const CCard* Card(const std::string& key) const { return app.m_mapCards.Lookup(key); }
    // The card numbers in the list, top to bottom.
    std::vector<std::string> Listed() const;
    // The register's keys in its iteration order: all, or those in `keys`.
    std::vector<std::string> InRegisterOrder() const;
    std::vector<std::string> InRegisterOrder(const std::set<std::string>& keys) const;

    std::unique_ptr<CUserCardDlg> window;
};
