#include "Velmora/UI/TranscriptView.hpp"

#include "Velmora/UI/BlockView.hpp"
#include "Velmora/UI/StyledLabel.hpp"
#include "Velmora/UI/Transition.hpp"

#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <map>
#include <utility>

namespace velmora {

namespace {

// The note and the stretch below it close the layout.
constexpr int trailingItems = 2;

}  // namespace

TranscriptView::TranscriptView(QWidget* parent) : QScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    content_ = new QWidget;
    layout_ = new QVBoxLayout(content_);
    layout_->setContentsMargins(padding, padding, padding, padding);
    layout_->setSpacing(spacing);
    note_ = new StyledLabel(QString(), Design::font(Design::TextStyle::callout), Design::Level::tertiary, content_);
    note_->setWordWrap(true);
    note_->setContentsMargins(0, notePadding, 0, 0);
    note_->hide();
    layout_->addWidget(note_);
    layout_->addStretch(1);
    setWidget(content_);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &TranscriptView::buildAhead);
    connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, &TranscriptView::buildAhead);
}

std::vector<BlockView*> TranscriptView::blockViews() const {
    return views_;
}

BlockView* TranscriptView::makeView(const TranscriptPiece& piece, bool animated) {
    auto* view = new BlockView(piece.block, piece.part, content_);
    // Coming in: hidden until it has its place, then brought in.
    if (animated) view->hide();
    Transition* transition = Transition::attach(view, blockOffset, MotionCurve::standardSpring());
    connect(transition, &Transition::left, view, &QObject::deleteLater);
    return view;
}

void TranscriptView::lay(const std::vector<BlockView*>& order) {
    while (layout_->count() > trailingItems) delete layout_->takeAt(0);
    for (std::size_t i = 0; i < order.size(); ++i) layout_->insertWidget(static_cast<int>(i), order[i]);
}

std::size_t TranscriptView::batchEnd(std::size_t from) const {
    std::size_t end = from;
    std::size_t bytes = 0;
    while (end < pieces_.size() && end - from < static_cast<std::size_t>(batch) && bytes < buildBytes)
        bytes += pieces_[end++].block.text.size();
    return end;
}

void TranscriptView::setMeeting(const Meeting& meeting, bool recording) {
    std::vector<TranscriptPiece> pieces = TranscriptPiece::of(meeting, pieceBytes);
    std::vector<BlockView*> coming;
    if (meetingId_ != meeting.id) {
        // Another meeting: a fresh page from the top, nothing animated.
        for (BlockView* view : content_->findChildren<BlockView*>(QString(), Qt::FindDirectChildrenOnly)) {
            view->hide();
            view->deleteLater();
        }
        while (layout_->count() > trailingItems) delete layout_->takeAt(0);
        meetingId_ = meeting.id;
        pieces_ = std::move(pieces);
        views_.clear();
        const std::size_t first = batchEnd(0);
        for (std::size_t i = 0; i < first; ++i) views_.push_back(makeView(pieces_[i], false));
        lay(views_);
        showPlaced(views_);
        verticalScrollBar()->setValue(0);
    } else {
        // While everything is built the new blocks at the end are built too; otherwise they wait
        // for the reader to scroll near them.
        const bool allBuilt = views_.size() == pieces_.size();
        pieces_ = std::move(pieces);
        const std::size_t wanted = allBuilt ? pieces_.size() : std::min(views_.size(), pieces_.size());
        std::map<std::pair<korbit::UUID, int>, BlockView*> kept;
        for (BlockView* view : views_) kept.emplace(std::pair(view->id(), view->part()), view);
        std::vector<BlockView*> next;
        for (std::size_t i = 0; i < wanted; ++i) {
            const auto found = kept.find(std::pair(pieces_[i].block.id, pieces_[i].part));
            if (found != kept.end()) {
                found->second->setBlock(pieces_[i].block);
                next.push_back(found->second);
                kept.erase(found);
            } else {
                next.push_back(makeView(pieces_[i], true));
                coming.push_back(next.back());
            }
        }
        // The layout in its new order: views on their way out stay where they were, among the
        // kept ones, until they have gone.
        std::vector<BlockView*> order;
        std::vector<BlockView*> current;
        for (int i = 0; i < layout_->count() - trailingItems; ++i)
            if (auto* view = qobject_cast<BlockView*>(layout_->itemAt(i)->widget())) current.push_back(view);
        std::size_t j = 0;
        for (BlockView* view : current) {
            const bool stays = std::find(next.begin() + static_cast<std::ptrdiff_t>(j), next.end(), view) != next.end();
            if (!stays) {
                order.push_back(view);
                continue;
            }
            while (next[j] != view) order.push_back(next[j++]);
            order.push_back(next[j++]);
        }
        order.insert(order.end(), next.begin() + static_cast<std::ptrdiff_t>(j), next.end());
        lay(order);
        for (auto& [id, view] : kept) Transition::of(view)->setShown(false);
        views_ = std::move(next);
    }
    for (BlockView* view : coming) Transition::of(view)->setShown(true);
    note_->setText(recording ? QStringLiteral("Первые реплики появятся примерно через полминуты — куски режутся по "
                                              "паузам.")
                             : QStringLiteral("В этой встрече ничего не распозналось."));
    note_->setVisible(meeting.lines.empty());
    // Once the layout has placed what is built: before, the scroll range is the former page's.
    QMetaObject::invokeMethod(this, &TranscriptView::buildAhead, Qt::QueuedConnection);
}

void TranscriptView::buildAhead() {
    if (views_.size() >= pieces_.size()) return;
    const QScrollBar* bar = verticalScrollBar();
    if (bar->maximum() - bar->value() > viewport()->height()) return;
    const std::size_t from = views_.size();
    const std::size_t end = batchEnd(from);
    for (std::size_t i = from; i < end; ++i) {
        BlockView* view = makeView(pieces_[i], false);
        layout_->insertWidget(layout_->count() - trailingItems, view);
        views_.push_back(view);
    }
    showPlaced({views_.begin() + static_cast<std::ptrdiff_t>(from), views_.end()});
}

void TranscriptView::showPlaced(const std::vector<BlockView*>& views) {
    // The layout shows what it is given only after the events queued before, and would meanwhile
    // place the rest without them: the scroll range would shrink, and further views be built.
    for (BlockView* view : views) view->show();
}

}  // namespace velmora
