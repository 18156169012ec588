#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <deque>
#include <vector>

class QWidget;

// Every message box and question of the program goes through here, so that tests can answer
// them and read what was shown. The caption is the application's title unless given.
namespace Msg {

// The window the operator works in, for a message that arrives unasked (a device gone, the
// server back): the modal window open now, otherwise `fallback`.
QWidget* WorkingWindow(QWidget* fallback);

// OK button; the exclamation icon unless another is given.
void Show(QWidget* parent, const QString& text, QMessageBox::Icon icon = QMessageBox::Warning,
          const QString& caption = QString());

// OK button, no icon: the plain messages of the card windows.
inline void Tell(QWidget* parent, const QString& text) {
    Show(parent, text, QMessageBox::NoIcon);
}
inline void Tell(QWidget* parent, const char* utf8) {
    Show(parent, QString::fromUtf8(utf8), QMessageBox::NoIcon);
}

// OK button; a plain sentence for the operator, and the technical cause (a file name, a
// system error) under the box's details button.
void ShowDetails(QWidget* parent, const QString& text, const QString& details,
                 QMessageBox::Icon icon = QMessageBox::Warning, const QString& caption = QString());

// Yes and No buttons with the question-mark icon; true for Yes.
bool Ask(QWidget* parent, const QString& text, const QString& caption = QString());

// Buttons with the texts `choices`, in this order; returns the index of the one clicked. The
// first is the default button; the last also answers Escape and the box being closed (a
// signal ending the program closes it).
int Choose(QWidget* parent, const QString& text, const QStringList& choices,
           QMessageBox::Icon icon = QMessageBox::Warning, const QString& caption = QString());

// One box as it was shown.
struct Shown {
    QString caption;
    QString text;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;  // none for Choose
    QStringList choices;                   // Choose: its buttons' texts
    QString details;                       // under the details button; empty for none
    QPointer<QWidget> parent;              // the window that the box is shown over
};

// While one exists, boxes are not shown: each is recorded and answered with the next queued
// answer, or with its first button when none is queued. A Choose takes a queued choice; an
// answer queued for another box closes it (its last button).
class Recorder {
public:
    Recorder();
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    void QueueAnswer(QMessageBox::StandardButton answer) { m_answers.push_back({answer, -1}); }
    // The next Choose is answered with its button `index`.
    void QueueChoice(int index) { m_answers.push_back({QMessageBox::NoButton, index}); }
    const std::vector<Shown>& shown() const { return m_shown; }
    void clear() { m_shown.clear(); }

private:
    friend QMessageBox::StandardButton Answer(const Shown& box);
    friend int AnswerChoice(const Shown& box);
    struct Queued {
        QMessageBox::StandardButton button;
        int choice;  // -1 unless queued for a Choose
    };
    std::deque<Queued> m_answers;
    std::vector<Shown> m_shown;
};

}  // namespace Msg
