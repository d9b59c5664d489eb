#pragma once

// One saved meeting in the meetings list: its title on at most two lines, and under it one line
// with the date, the length and the word count.

#ifndef Q_MOC_RUN
#include "Velmora/Meeting/Meeting.hpp"
#endif

#include <QWidget>

namespace velmora {

class StyledLabel;

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
    StyledLabel* titleLabel() const { return titleLabel_; }
    StyledLabel* metaLabel() const { return metaLabel_; }

    /// "5 декабря 2024, 09:30 · 12:34 · 250 сл."
    static QString metaText(const Meeting& meeting);

    /// Lays the texts out for this width, cutting them short with an ellipsis where they do not
    /// fit; the height the row then needs.
    int fitTo(int width);

private:
    korbit::UUID id_;
    QString title_;
    QString meta_;
    StyledLabel* titleLabel_;
    StyledLabel* metaLabel_;
};

}  // namespace velmora
