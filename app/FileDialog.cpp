#include "FileDialog.h"

#include <QFileDialog>

namespace FileDlg {

QString Answer(const Asked& dialog);

namespace {

Recorder* g_recorder = nullptr;

QString Run(QWidget* parent, bool save, const QString& title, const QString& filters) {
    const Asked dialog{save, title, filters};
    if (g_recorder != nullptr) {
        return Answer(dialog);
    }
    return save ? QFileDialog::getSaveFileName(parent, title, QString(), filters, nullptr,
                                               QFileDialog::DontConfirmOverwrite)
                : QFileDialog::getOpenFileName(parent, title, QString(), filters);
}

}  // namespace

Recorder::Recorder() {
    g_recorder = this;
}

Recorder::~Recorder() {
    g_recorder = nullptr;
}

QString Answer(const Asked& dialog) {
    Recorder& r = *g_recorder;
    r.m_asked.push_back(dialog);
    if (r.m_answers.empty()) {
        return QString();
    }
    QString answer = r.m_answers.front();
    r.m_answers.pop_front();
    return answer;
}

QString Open(QWidget* parent, const QString& title, const QString& filters) {
    return Run(parent, false, title, filters);
}

QString Save(QWidget* parent, const QString& title, const QString& filters) {
    return Run(parent, true, title, filters);
}

}  // namespace FileDlg
