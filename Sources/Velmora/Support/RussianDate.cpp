#include "Velmora/Support/RussianDate.hpp"

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace velmora {

std::string russianDate(Date date, const char* pattern) {
    const auto ms = std::chrono::floor<std::chrono::milliseconds>(date).time_since_epoch().count();
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms);
    return QLocale(QLocale::Russian, QLocale::Russia).toString(local, QString::fromLatin1(pattern)).toStdString();
}

}  // namespace velmora
