#include "app/QtTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>

QTranslator* UseChineseQtTexts(QCoreApplication& application) {
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    QLocale::setDefault(chinese);
    auto* translator = new QTranslator(&application);
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"), folder) ||
        !QCoreApplication::installTranslator(translator)) {
        std::fprintf(stderr, "Qt's Chinese translation (qtbase_zh_CN.qm) is not in %s\n",
                     qUtf8Printable(folder));
        delete translator;
        return nullptr;
    }
    return translator;
}
