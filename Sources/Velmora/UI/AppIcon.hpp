#pragma once

// The application's round mark: the icon's plate and waves in a circle, drawn at any size.

#include <QImage>

namespace velmora {

class AppIcon {
public:
    /// A size × size image (in device-independent pixels): clipped to the inscribed circle, filled
    /// with the brand gradient, with white waves inside a square inset by a tenth of the side.
    static QImage roundMark(int size, qreal devicePixelRatio = 1.0);
};

}  // namespace velmora
