#include "Velmora/UI/Symbols.hpp"

#include <QDir>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace velmora {

namespace {

// Adwaita's icon for the idea where it has one; our own drawing where it has none that fits.
const std::vector<Symbols::Entry> entries{
    {"person.2.wave.2.fill", "system-users-symbolic"},
    {"person.2.wave.2", "system-users-symbolic"},
    {"stop.circle.fill", ":/velmora/symbols/stop-circle.svg"},
    {"record.circle", "media-record-symbolic"},
    {"exclamationmark.triangle.fill", "dialog-warning-symbolic"},
    {"questionmark.circle", ":/velmora/symbols/question-circle.svg"},
    {"info.circle", "help-about-symbolic"},
    {"doc.on.doc", "edit-copy-symbolic"},
    {"checkmark", "object-select-symbolic"},
    {"pencil.and.outline", "document-edit-symbolic"},
    {"character.book.closed.fill", "accessories-dictionary-symbolic"},
    {"clock.fill", "document-open-recent-symbolic"},
    {"chart.bar.fill", ":/velmora/symbols/chart-bars.svg"},
    {"gearshape.fill", "emblem-system-symbolic"},
    {"gearshape.2", "applications-system-symbolic"},
    {"chevron.up.chevron.down", ":/velmora/symbols/chevron-up-down.svg"},
    {"arrow.down.circle", "folder-download-symbolic"},
    {"arrow.left", ":/velmora/symbols/arrow-left.svg"},
    {"magnifyingglass", "edit-find-symbolic"},
    {"chevron.right", "go-next-symbolic"},
    {"waveform", ":/velmora/symbols/waveform.svg"},
    {"xmark.circle.fill", ":/velmora/symbols/xmark-circle.svg"},
    {"ellipsis", "view-more-horizontal-symbolic"},
    {"trash", "user-trash-symbolic"},
    {"clock.badge.xmark", "appointment-missed-symbolic"},
};

// The theme is looked up in the system's shared data folders only ($XDG_DATA_DIRS, else
// /usr/local/share and /usr/share), never in the user's own, and is set once for the process.
void useTheme() {
    static const bool done = [] {
        QStringList paths;
        QString dirs = qEnvironmentVariable("XDG_DATA_DIRS");
        if (dirs.isEmpty()) dirs = QStringLiteral("/usr/local/share:/usr/share");
        for (const QString& dir : dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
            const QString icons = QDir(dir).filePath(QStringLiteral("icons"));
            if (QDir(icons).exists() && !paths.contains(icons)) paths << icons;
        }
        for (const QString& path : QIcon::themeSearchPaths())
            if (path.startsWith(QLatin1Char(':')) && !paths.contains(path)) paths << path;
        QIcon::setThemeSearchPaths(paths);
        QIcon::setThemeName(Symbols::themeName());
        return true;
    }();
    (void)done;
}

}  // namespace

const std::vector<Symbols::Entry>& Symbols::table() {
    return entries;
}

QString Symbols::themeName() {
    return QStringLiteral("Adwaita");
}

QIcon Symbols::icon(std::string_view name) {
    const auto entry = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.name == name; });
    if (entry == entries.end()) return {};
    const QString source = QString::fromUtf8(entry->source.data(), static_cast<qsizetype>(entry->source.size()));
    if (source.startsWith(QLatin1Char(':'))) return QIcon(source);
    useTheme();
    return QIcon::fromTheme(source);
}

QPixmap Symbols::pixmap(std::string_view name, int size, const QColor& tint, qreal devicePixelRatio) {
    const QIcon picture = icon(name);
    if (picture.isNull() || size <= 0) return {};
    const int pixels = std::max(1, static_cast<int>(std::lround(size * devicePixelRatio)));
    QPixmap drawn = picture.pixmap(QSize(size, size), devicePixelRatio);
    if (drawn.isNull()) return {};
    drawn.setDevicePixelRatio(1);
    // Scalable icons come at the asked size; keep the square even where one does not.
    if (drawn.size() != QSize(pixels, pixels))
        drawn = drawn.scaled(pixels, pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);

    QPixmap tinted(pixels, pixels);
    tinted.fill(Qt::transparent);
    QPainter painter(&tinted);
    painter.drawPixmap((pixels - drawn.width()) / 2, (pixels - drawn.height()) / 2, drawn);
    // One colour, the shape's own coverage kept: faint parts of a picture stay faint.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(tinted.rect(), tint);
    painter.end();
    tinted.setDevicePixelRatio(devicePixelRatio);
    return tinted;
}

}  // namespace velmora
