#include "Velmora/UI/MeetingList.hpp"

#include "Velmora/UI/Design.hpp"
#include "Velmora/UI/MeetingRow.hpp"
#include "Velmora/UI/StyledLabel.hpp"

#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QStyledItemDelegate>

namespace velmora {

namespace {

constexpr int idRole = Qt::UserRole;

// A sidebar's selection: a soft rounded plate of the brand colour behind the row's own widget.
class SidebarDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex&) const override {
        if (!(option.state & QStyle::State_Selected)) return;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        QColor plate = Design::brand();
        plate.setAlphaF(0.16f);
        QPainterPath path;
        const qreal inset = MeetingRow::plateInset;
        path.addRoundedRect(QRectF(option.rect).adjusted(inset, 1, -inset, -1), 6, 6);
        painter->fillPath(path, plate);
        painter->restore();
    }
};

}  // namespace

MeetingList::MeetingList(QWidget* parent) : QListWidget(parent) {
    setFixedWidth(fixedWidth);
    setFrameShape(QFrame::NoFrame);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setSpacing(0);
    setViewportMargins(0, topMargin, 0, 0);
    setItemDelegate(new SidebarDelegate(this));
    // A sidebar sits on the window's colour, not on the base of a text list.
    QPalette sidebar = palette();
    sidebar.setColor(QPalette::Base, sidebar.color(QPalette::Window));
    setPalette(sidebar);
    viewport()->setAutoFillBackground(true);

    placeholder_ = new StyledLabel(QStringLiteral("Встреч пока нет"), Design::font(Design::TextStyle::callout),
                                   Design::Level::tertiary, viewport());
    placeholder_->setAlignment(Qt::AlignCenter);
    placeholder_->setMargin(placeholderPadding);
    placeholder_->hide();

    connect(this, &QListWidget::itemSelectionChanged, this, [this] {
        if (rebuilding_) return;
        if (auto id = highlighted()) Q_EMIT picked(*id);
    });
}

void MeetingList::setMeetings(const std::vector<Meeting>& meetings, const std::optional<korbit::UUID>& selected) {
    rebuilding_ = true;
    const int scroll = verticalScrollBar()->value();
    clear();
    const int width = viewport()->width();
    for (const Meeting& meeting : meetings) {
        auto* item = new QListWidgetItem(this);
        item->setData(idRole, QString::fromStdString(meeting.id.uuidString()));
        auto* row = new MeetingRow(meeting);
        item->setSizeHint(QSize(width, row->heightFor(width)));
        setItemWidget(item, row);
        if (selected && meeting.id == *selected) item->setSelected(true);
    }
    // No row of a meeting that is gone stays highlighted, and none becomes current by itself.
    if (selectedItems().isEmpty()) setCurrentRow(-1, QItemSelectionModel::NoUpdate);
    verticalScrollBar()->setValue(scroll);
    placeholder_->setVisible(meetings.empty());
    rebuilding_ = false;
}

std::vector<MeetingRow*> MeetingList::rows() const {
    std::vector<MeetingRow*> result;
    for (int i = 0; i < count(); ++i)
        if (auto* row = qobject_cast<MeetingRow*>(itemWidget(item(i)))) result.push_back(row);
    return result;
}

MeetingRow* MeetingList::rowOf(const korbit::UUID& id) const {
    for (MeetingRow* row : rows())
        if (row->id() == id) return row;
    return nullptr;
}

std::optional<korbit::UUID> MeetingList::highlighted() const {
    const QList<QListWidgetItem*> chosen = selectedItems();
    if (chosen.isEmpty()) return std::nullopt;
    if (auto* row = qobject_cast<MeetingRow*>(itemWidget(chosen.front()))) return row->id();
    return std::nullopt;
}

QMenu* MeetingList::menuAt(const QPoint& point) {
    QListWidgetItem* item = itemAt(point);
    auto* row = item != nullptr ? qobject_cast<MeetingRow*>(itemWidget(item)) : nullptr;
    if (row == nullptr) return nullptr;
    auto* menu = new QMenu(this);
    QAction* remove = menu->addAction(QStringLiteral("Удалить"));
    remove->setEnabled(!canDelete_ || canDelete_(row->id()));
    const korbit::UUID id = row->id();
    connect(remove, &QAction::triggered, this, [this, id] { Q_EMIT deleteRequested(id); });
    return menu;
}

void MeetingList::contextMenuEvent(QContextMenuEvent* event) {
    // Menu events of a scroll area come in the viewport's coordinates.
    QMenu* menu = menuAt(event->pos());
    if (menu == nullptr) return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void MeetingList::resizeEvent(QResizeEvent* event) {
    QListWidget::resizeEvent(event);
    placeholder_->setGeometry(viewport()->rect());
    fitRows();
}

void MeetingList::fitRows() {
    const int width = viewport()->width();
    for (int i = 0; i < count(); ++i)
        if (auto* row = qobject_cast<MeetingRow*>(itemWidget(item(i))))
            item(i)->setSizeHint(QSize(width, row->heightFor(width)));
}

}  // namespace velmora
