#include "Velmora/App/QtTranslations.hpp"

#include "Velmora/Support/Log.hpp"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace velmora::QtTranslations {

bool install() {
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    // Owned by the application, which keeps it for its life.
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_ru"), folder)) {
        delete translator;
        Log::app.warn("нет русских текстов Qt (qtbase_ru.qm) в " + folder.toStdString() +
                      ": стандартные меню и кнопки будут по-английски");
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}

}  // namespace velmora::QtTranslations
