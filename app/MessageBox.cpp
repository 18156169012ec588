#include "app/MessageBox.h"

#include <QApplication>

namespace Msg {

QMessageBox::StandardButton Answer(const Shown& box);

namespace {

Recorder* g_recorder = nullptr;

QMessageBox::StandardButton Run(QWidget* parent, const QString& text, QMessageBox::Icon icon,
                                QMessageBox::StandardButtons buttons, const QString& caption) {
    const Shown box{caption.isEmpty() ? QApplication::applicationName() : caption, text, icon,
                    buttons};
    if (g_recorder != nullptr) {
        return Answer(box);
    }
    QMessageBox message(icon, box.caption, text, buttons, parent);
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
        return answer;
    }
    return (box.buttons & QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
}

void Show(QWidget* parent, const QString& text, QMessageBox::Icon icon, const QString& caption) {
    Run(parent, text, icon, QMessageBox::Ok, caption);
}

bool Ask(QWidget* parent, const QString& text, const QString& caption) {
    return Run(parent, text, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, caption) ==
           QMessageBox::Yes;
}

}  // namespace Msg
