#include "window/qtfrench.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace cueprune {

void installQtFrenchTexts()
{
    auto *french = new QTranslator(QCoreApplication::instance());
    if (french->load(
            QStringLiteral("qtbase_fr"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(french);
    else
        delete french;
}

} // namespace cueprune
