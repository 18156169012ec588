#include "app/FileDialog.h"

#include <QFile>
#include <QFileDialog>
#include <QStringList>

#include <sys/stat.h>

#include "app/MessageBox.h"

namespace FileDlg {

QString Answer(const Asked& dialog);

namespace {

Recorder* g_recorder = nullptr;

QString Run(QWidget* parent, bool save, const QString& title, const std::vector<Filter>& filters) {
    Asked dialog{save, title, {}};
    for (const Filter& filter : filters) {
        dialog.filterNames << filter.name;
    }
    if (g_recorder != nullptr) {
        return Answer(dialog);
    }
    QFileDialog fileDialog(parent);
    SetUp(fileDialog, save, title, filters);
    if (fileDialog.exec() != QDialog::Accepted) {
        return QString();
    }
    return fileDialog.selectedFiles().value(0);
}

}  // namespace

std::string LocalPath(const QString& name) {
    return QFile::encodeName(name).toStdString();
}

SaveTarget AskSaveTarget(QWidget* parent, const QString& title, const Filter& filter,
                         const QString& extension, Qt::CaseSensitivity extensionCase) {
    SaveTarget target{Save(nullptr, title, {filter}), std::string()};
    if (target.IsEmpty()) {
        return target;
    }
    if (!target.name.endsWith(extension, extensionCase)) {
        target.name += extension;
    }
    target.path = LocalPath(target.name);
    struct stat info {};
    if (::stat(target.path.c_str(), &info) == 0 &&
        !Msg::Ask(parent, QStringLiteral("保存的文件已经存在,是否覆盖?"), QStringLiteral("保存"))) {
        return SaveTarget();
    }
    return target;
}

void SetUp(QFileDialog& dialog, bool save, const QString& title,
           const std::vector<Filter>& filters) {
    dialog.setWindowTitle(title);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // The names alone are shown: a name such as "Files(*.kcd)" already says its pattern.
    // Overwriting is asked by the program itself. Qt's own dialog, not the desktop's: it
    // speaks Chinese through Qt's translation whatever the desktop's language.
    dialog.setOptions(QFileDialog::HideNameFilterDetails | QFileDialog::DontConfirmOverwrite |
                      QFileDialog::DontUseNativeDialog);
    QStringList qtFilters;  // "name (pattern)": Qt reads the pattern from the parentheses
    for (const Filter& filter : filters) {
        qtFilters << QStringLiteral("%1 (%2)").arg(filter.name, filter.pattern);
    }
    dialog.setNameFilters(qtFilters);
}

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

QString Open(QWidget* parent, const QString& title, const std::vector<Filter>& filters) {
    return Run(parent, false, title, filters);
}

QString Save(QWidget* parent, const QString& title, const std::vector<Filter>& filters) {
    return Run(parent, true, title, filters);
}

}  // namespace FileDlg
