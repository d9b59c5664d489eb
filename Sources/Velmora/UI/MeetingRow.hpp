#pragma once

// One saved meeting in the meetings list: its title on at most two lines, and under it one line
// with the date, the length and the word count.

#ifndef Q_MOC_RUN
#include "Velmora/Meeting/Meeting.hpp"
#endif

#include <QWidget>

namespace velmora {

class ClampedLabel;

class MeetingRow : public QWidget {
    Q_OBJECT

public:
    static constexpr int titlePixels = 13;
    static constexpr int metaPixels = 11;
    static constexpr int spacing = 2;
    static constexpr int verticalPadding = 2;
    /// A sidebar's own room around each row: its selection plate is inset by `plateInset`, the
    /// texts sit `horizontalPadding` in from the list's edges.
    static constexpr int sidebarInset = 4;
    static constexpr int plateInset = 8;
    static constexpr int horizontalPadding = 18;
    static constexpr int titleLines = 2;

    explicit MeetingRow(const Meeting& meeting, QWidget* parent = nullptr);

    const korbit::UUID& id() const { return id_; }
    /// The whole title, as stored (the label may show it cut short).
    const QString& title() const { return title_; }
    /// The title on at most two lines, cut with an ellipsis where it goes on.
    ClampedLabel* titleLabel() const { return titleLabel_; }
    /// "5 декабря 2024, 09:30 · 12:34 · 250 сл." on one line.
    ClampedLabel* metaLabel() const { return metaLabel_; }

    /// The height the row needs at this width.
    int heightFor(int width) const;

private:
    korbit::UUID id_;
    QString title_;
    ClampedLabel* titleLabel_;
    ClampedLabel* metaLabel_;
};

}  // namespace velmora
