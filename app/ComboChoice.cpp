#include "app/ComboChoice.h"

#include <QComboBox>
#include <QLineEdit>

void ChoiceFollowsText(QComboBox* combo) {
    combo->setInsertPolicy(QComboBox::NoInsert);
    QObject::connect(combo, &QComboBox::editTextChanged, combo, [combo](const QString& text) {
        const int index = combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index == combo->currentIndex()) {
            return;
        }
        // Choosing no entry empties the edit: the text being typed is put back.
        QLineEdit* edit = combo->lineEdit();
        const int cursor = edit->cursorPosition();
        combo->setCurrentIndex(index);
        if (edit->text() != text) {
            edit->setText(text);
            edit->setCursorPosition(cursor);
        }
    });
}
