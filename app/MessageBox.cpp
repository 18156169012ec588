#include "app/MessageBox.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QPushButton>
#include <QSpacerItem>

#include <cstdio>

namespace Msg {

QMessageBox::StandardButton Answer(const Shown& box);
int AnswerChoice(const Shown& box);

namespace {

Recorder* g_recorder = nullptr;

// A box shown also goes to standard error: a program started where nobody watches the screen
// (a service manager, a script) leaves what it said in the log.
void Log(const Shown& box) {
    std::fprintf(stderr, "%s: %s%s%s\n", qUtf8Printable(box.caption), qUtf8Printable(box.text),
                 box.details.isEmpty() ? "" : "\n", qUtf8Printable(box.details));
    std::fflush(stderr);
}

// Room that a window manager's title bar takes beside the title: the window's icon, three
// buttons and the gaps between them.
constexpr int kTitleBarRoom = 150;

// Qt sizes a box by its text and allows the title only a small margin, so that a title bar
// with an icon and buttons cuts the caption of a short box ("or… e"). An empty item as wide
// as the title and that room keeps the box at least that wide.
void FitTitle(QMessageBox& message) {
    QFont font = message.font();
    font.setBold(true);  // as most title bars show it
    const int width = QFontMetrics(font).horizontalAdvance(message.windowTitle()) + kTitleBarRoom;
    if (auto* grid = qobject_cast<QGridLayout*>(message.layout())) {
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Fixed, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
}

QMessageBox::StandardButton Run(QWidget* parent, const QString& text, QMessageBox::Icon icon,
                                QMessageBox::StandardButtons buttons, const QString& caption,
                                const QString& details = QString()) {
    const Shown box{caption.isEmpty() ? QApplication::applicationName() : caption,
                    text,
                    icon,
                    buttons,
                    QStringList(),
                    details,
                    parent};
    if (g_recorder != nullptr) {
        return Answer(box);
    }
    Log(box);
    QMessageBox message(icon, box.caption, text, buttons, parent);
    if (!details.isEmpty()) {
        message.setDetailedText(details);
    }
    FitTitle(message);
    // A box shown while a wait cursor is up still gets the ordinary arrow.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    const auto result = static_cast<QMessageBox::StandardButton>(message.exec());
    QApplication::restoreOverrideCursor();
    return result;
}

}  // namespace

Recorder::Recorder() {
    g_recorder = this;
}

Recorder::~Recorder() {
    g_recorder = nullptr;
}

QMessageBox::StandardButton Answer(const Shown& box) {
    Recorder& r = *g_recorder;
    r.m_shown.push_back(box);
    if (!r.m_answers.empty()) {
        const auto answer = r.m_answers.front();
        r.m_answers.pop_front();
        return answer.button;
    }
    return (box.buttons & QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
}

int AnswerChoice(const Shown& box) {
    Recorder& r = *g_recorder;
    r.m_shown.push_back(box);
    if (r.m_answers.empty()) {
        return 0;
    }
    const int choice = r.m_answers.front().choice;
    r.m_answers.pop_front();
    return choice;
}

QWidget* WorkingWindow(QWidget* fallback) {
    QWidget* modal = QApplication::activeModalWidget();
    return modal != nullptr ? modal : fallback;
}

void Show(QWidget* parent, const QString& text, QMessageBox::Icon icon, const QString& caption) {
    Run(parent, text, icon, QMessageBox::Ok, caption);
}

void ShowDetails(QWidget* parent, const QString& text, const QString& details,
                 QMessageBox::Icon icon, const QString& caption) {
    Run(parent, text, icon, QMessageBox::Ok, caption, details);
}

bool Ask(QWidget* parent, const QString& text, const QString& caption) {
    return Run(parent, text, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, caption) ==
           QMessageBox::Yes;
}

int Choose(QWidget* parent, const QString& text, const QStringList& choices, QMessageBox::Icon icon,
           const QString& caption) {
    const int last = static_cast<int>(choices.size()) - 1;
    const Shown box{caption.isEmpty() ? QApplication::applicationName() : caption,
                    text,
                    icon,
                    QMessageBox::NoButton,
                    choices,
                    QString(),
                    parent};
    if (g_recorder != nullptr) {
        const int choice = AnswerChoice(box);
        return choice >= 0 && choice <= last ? choice : last;
    }
    Log(box);
    QMessageBox message(icon, box.caption, text, QMessageBox::NoButton, parent);
    std::vector<QPushButton*> buttons;
    for (const QString& choice : choices) {
        // One role for all keeps them in the given order.
        buttons.push_back(message.addButton(choice, QMessageBox::ActionRole));
    }
    if (!buttons.empty()) {
        message.setDefaultButton(buttons.front());
        message.setEscapeButton(buttons.back());
    }
    FitTitle(message);
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    message.exec();
    QApplication::restoreOverrideCursor();
    for (int i = 0; i <= last; ++i) {
        if (message.clickedButton() == buttons[static_cast<size_t>(i)]) {
            return i;
        }
    }
    return last;
}

}  // namespace Msg
