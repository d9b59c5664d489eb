#include "Velmora/UI/GlossaryText.hpp"

#include <QStringList>

namespace velmora::GlossaryText {

namespace {

bool isBlank(QChar c) {
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

}  // namespace

QString trimmingBlanks(const QString& text) {
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && isBlank(text[start])) ++start;
    while (end > start && isBlank(text[end - 1])) --end;
    return text.mid(start, end - start);
}

std::vector<std::string> splitAtCommas(const QString& text, bool trimBlanks) {
    std::vector<std::string> pieces;
    for (const QString& piece : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString kept = trimBlanks ? trimmingBlanks(piece) : piece;
        if (!kept.isEmpty()) pieces.push_back(kept.toStdString());
    }
    return pieces;
}

}  // namespace velmora::GlossaryText
