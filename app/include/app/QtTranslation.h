#pragma once

class QCoreApplication;
class QTranslator;

// Qt's own texts (the buttons of message boxes, the file dialogs, the context menus of edits)
// in Chinese whatever the system's language: Qt's Chinese translation from Qt's translations
// folder, installed into `application`, and the Chinese locale for the names of months and
// days. Returns the translator (owned by `application`), or nullptr when the translation is
// not installed: Qt's texts then stay English.
QTranslator* UseChineseQtTexts(QCoreApplication& application);
