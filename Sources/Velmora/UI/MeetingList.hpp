#pragma once

// The list of saved meetings beside the transcript: one row per meeting in the store's order, a
// single selection by meeting id that survives every rebuild, a context menu to delete a meeting,
// and "Встреч пока нет" over the empty list.

#ifndef Q_MOC_RUN
#include "Velmora/Meeting/Meeting.hpp"
#endif

#include <QListWidget>

#include <functional>
#include <optional>
#include <vector>

class QMenu;

namespace velmora {

class MeetingRow;
class StyledLabel;

class MeetingList : public QListWidget {
    Q_OBJECT

public:
    static constexpr int fixedWidth = 290;
    static constexpr int placeholderPadding = 22;
    /// Room above the first row, under the divider.
    static constexpr int topMargin = 8;

    explicit MeetingList(QWidget* parent = nullptr);

    /// Rows for these meetings, in order; the row of the selected id (if any) is highlighted.
    void setMeetings(const std::vector<Meeting>& meetings, const std::optional<korbit::UUID>& selected);
    /// Whether a row's "Удалить" is offered; asked each time its menu opens.
    void setCanDelete(std::function<bool(const korbit::UUID&)> canDelete) { canDelete_ = std::move(canDelete); }

    std::vector<MeetingRow*> rows() const;
    MeetingRow* rowOf(const korbit::UUID& id) const;
    /// The highlighted row's meeting, or none.
    std::optional<korbit::UUID> highlighted() const;
    StyledLabel* placeholder() const { return placeholder_; }
    /// The menu of the row at this point of the viewport, as it would open there; null off the rows.
    /// The caller owns it.
    QMenu* menuAt(const QPoint& point);

Q_SIGNALS:
    /// The user picked a row.
    void picked(const korbit::UUID& id);
    void deleteRequested(const korbit::UUID& id);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void fitRows();

    std::function<bool(const korbit::UUID&)> canDelete_;
    StyledLabel* placeholder_;
    bool rebuilding_ = false;
};

}  // namespace velmora
