#pragma once

#include <QString>
#include <QStringList>

#include <deque>
#include <string>
#include <vector>

class QFileDialog;
class QWidget;

// Every file dialog of the program goes through here, so that tests can answer them and read
// what was asked. An empty result means the operator cancelled.
namespace FileDlg {

// A filter of the dialog's file-type list: the name shown ("Files(*.kcd)", "All Files") and
// the pattern that it selects ("*.kcd", "*.*").
struct Filter {
    QString name;
    QString pattern;
};

// The first filter is selected.
QString Open(QWidget* parent, const QString& title, const std::vector<Filter>& filters);
QString Save(QWidget* parent, const QString& title, const std::vector<Filter>& filters);

// A file name as the system's calls take it.
std::string LocalPath(const QString& name);

// A file that the operator chose to write: the name as chosen (with the extension added),
// and its local path. Empty when the operator cancelled or would not overwrite.
struct SaveTarget {
    QString name;
    std::string path;
    bool IsEmpty() const { return name.isEmpty(); }
};
// The save dialog with one filter; `extension` (".kcd") is added to a name that does not end
// with it, and an existing file is overwritten only when the operator says so (asked over
// `parent`).
SaveTarget AskSaveTarget(QWidget* parent, const QString& title, const Filter& filter,
                         const QString& extension, Qt::CaseSensitivity extensionCase);

// How the dialog is set up before it is shown: title, open or save, the filters.
void SetUp(QFileDialog& dialog, bool save, const QString& title,
           const std::vector<Filter>& filters);

struct Asked {
    bool save;
    QString title;
    QStringList filterNames;  // as the dialog shows them
};

// While one exists, no dialog is shown: each is recorded and answered with the next queued
// name, or cancelled when none is queued.
class Recorder {
public:
    Recorder();
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    void QueueAnswer(const QString& path) { m_answers.push_back(path); }
    const std::vector<Asked>& asked() const { return m_asked; }

private:
    friend QString Answer(const Asked& dialog);
    std::deque<QString> m_answers;
    std::vector<Asked> m_asked;
};

}  // namespace FileDlg
