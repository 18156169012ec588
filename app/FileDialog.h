#pragma once

#include <QString>

#include <deque>
#include <vector>

class QWidget;

// Every file dialog of the program goes through here, so that tests can answer them and read
// what was asked. An empty result means the operator cancelled.
namespace FileDlg {

// `filters` in Qt's form: "Files(*.kcd) (*.kcd);;All Files (*.*)"; the first is selected.
QString Open(QWidget* parent, const QString& title, const QString& filters);
QString Save(QWidget* parent, const QString& title, const QString& filters);

struct Asked {
    bool save;
    QString title;
    QString filters;
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
