#include "Velmora/UI/Symbols.hpp"

#include "QtApplication.hpp"

#include <gtest/gtest.h>

#include <QIcon>
#include <QImage>

#include <cstdlib>
#include <set>
#include <string>

using velmora::Symbols;

namespace {

// The share of the square the symbol covers, and whether every covered pixel has the tint.
struct Coverage {
    double share = 0;
    bool onlyTint = true;
};

Coverage coverage(const QPixmap& pixmap, const QColor& tint) {
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    Coverage result;
    int covered = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() == 0) continue;
            ++covered;
            // Edges are blended; the solid parts must be the tint (give or take rounding).
            if (pixel.alpha() > 200 &&
                (std::abs(pixel.red() - tint.red()) > 2 || std::abs(pixel.green() - tint.green()) > 2 ||
                 std::abs(pixel.blue() - tint.blue()) > 2))
                result.onlyTint = false;
        }
    }
    result.share = static_cast<double>(covered) / (image.width() * image.height());
    return result;
}

}  // namespace

TEST(Symbols, EveryNamedSymbolIsDrawnInOneColourAtTheAskedSize) {
    const QColor tint(200, 40, 30);
    std::set<std::string> names;
    for (const auto& entry : Symbols::table()) {
        SCOPED_TRACE(std::string(entry.name));
        EXPECT_TRUE(names.insert(std::string(entry.name)).second) << "named twice";
        const QPixmap pixmap = Symbols::pixmap(entry.name, 32, tint);
        ASSERT_FALSE(pixmap.isNull()) << "no picture from " << entry.source;
        EXPECT_EQ(pixmap.size(), QSize(32, 32));
        const Coverage drawn = coverage(pixmap, tint);
        EXPECT_GT(drawn.share, 0.05);
        EXPECT_LT(drawn.share, 0.95);
        EXPECT_TRUE(drawn.onlyTint);
    }
    EXPECT_EQ(names.size(), 25u);
    for (const char* name : {"magnifyingglass", "arrow.left", "chevron.right", "person.2.wave.2", "waveform",
                             "xmark.circle.fill", "stop.circle.fill", "record.circle", "doc.on.doc", "trash"})
        EXPECT_EQ(names.count(name), 1u) << name;
}

TEST(Symbols, ThemeIconsComeFromTheChosenThemeAndOwnDrawingsFromTheResources) {
    ASSERT_FALSE(Symbols::icon("magnifyingglass").isNull());
    EXPECT_EQ(QIcon::themeName(), Symbols::themeName());
    EXPECT_EQ(Symbols::icon("magnifyingglass").name(), "edit-find-symbolic");
    EXPECT_FALSE(Symbols::icon("arrow.left").isNull());
    EXPECT_TRUE(Symbols::icon("no.such.symbol").isNull());
    EXPECT_TRUE(Symbols::pixmap("no.such.symbol", 16, Qt::black).isNull());

    // A doubled device pixel ratio doubles the pixels, not the size on screen.
    const QPixmap sharp = Symbols::pixmap("chevron.right", 10, Qt::black, 2.0);
    EXPECT_EQ(sharp.size(), QSize(20, 20));
    EXPECT_EQ(sharp.deviceIndependentSize(), QSizeF(10, 10));
}
