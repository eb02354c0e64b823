#include "app/StudyTreeViews.h"

#include "util/TraceFiles.h"

#include <QCollator>
#include <QColor>
#include <QLocale>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QScopedValueRollback>
#include <QStyledItemDelegate>
#include <QSvgRenderer>
#include <algorithm>
#include <utility>

// The resources live in a static library: nothing references them, so they are registered by hand.
static void InitTreeResources() {
    Q_INIT_RESOURCE(app);
}

namespace tarvicon {

namespace {

constexpr int kPictureSize = 16;
constexpr int kIndent = 19;
// The selected row's background, whether or not the tree has the focus.
constexpr QColor kSelectedRow(128, 128, 128);

// The drawings of the node pictures, by picture index.
constexpr std::pair<TNodePicture, const char*> kPictureNames[] = {
    {TNodePicture::Patient, "patient"}, {TNodePicture::Study, "study"}, {TNodePicture::Series, "series"},
    {TNodePicture::Image, "image"},     {TNodePicture::Error, "error"},
};

// The squeeze's caption order: the collation of the system's locale, case-sensitive. The "C"
// locale collates by code points, so English collation stands in for it: captions never sort
// in byte order.
QCollator CaptionCollator() {
    QLocale locale = QLocale::system().collation();
    if (locale.language() == QLocale::C) locale = QLocale(QLocale::English);
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseSensitive);
    return collator;
}

// A node picture at the list's size and twice that, the overlay mark drawn over it when asked.
QIcon DrawPicture(const char* name, bool overlayMarked) {
    QIcon icon;
    for (const int size : {kPictureSize, 2 * kPictureSize}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        QSvgRenderer(QStringLiteral(":/app/tree/%1.svg").arg(QLatin1String(name))).render(&painter);
        if (overlayMarked) QSvgRenderer(QStringLiteral(":/app/tree/overlay.svg")).render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// Paints rows without the style's focus frame, which some styles draw as a gradient over the
// selection: the selected row is plain grey, focused or not.
class TPlainRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem plain = option;
        plain.state &= ~QStyle::State_HasFocus;
        QStyledItemDelegate::paint(painter, plain, index);
    }
};

std::size_t PictureIndex(TNodePicture picture) {
    return static_cast<std::size_t>(picture);
}

} // namespace

TDicomTreeView::TDicomTreeView(TDicomTree& tree, QWidget* parent) : QTreeWidget(parent), tree_(tree) {
    InitTreeResources();
    for (const auto& [picture, name] : kPictureNames) {
        pictures_.at(PictureIndex(picture)) = DrawPicture(name, false);
        overlaidPictures_.at(PictureIndex(picture)) = DrawPicture(name, true);
    }
    setColumnCount(1);
    setHeaderHidden(true);
    setIndentation(kIndent);
    setIconSize(QSize(kPictureSize, kPictureSize));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setToolTip(QStringLiteral("Study structure"));
    QPalette colours = palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        colours.setColor(group, QPalette::Highlight, kSelectedRow);
        colours.setColor(group, QPalette::HighlightedText, Qt::white);
    }
    setPalette(colours);
    rowDelegate_ = std::make_unique<TPlainRowDelegate>();
    setItemDelegate(rowDelegate_.get());

    // A copy of the collator goes with the order, so the tree may outlive the widget.
    tree_.SetCaptionOrder([collator = CaptionCollator()](const std::string& a, const std::string& b) {
        return collator.compare(QString::fromStdString(a), QString::fromStdString(b));
    });
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { UserSelected(current); });
    connect(this, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* item) { UserExpanded(item, true); });
    connect(this, &QTreeWidget::itemCollapsed, this,
            [this](QTreeWidgetItem* item) { UserExpanded(item, false); });

    tree_.AddListener(*this);
    Synchronize();
    FollowSelection(true);
}

TDicomTreeView::~TDicomTreeView() {
    // Deleting the rows changes the current row: that is not the user's choice.
    blockSignals(true);
    tree_.RemoveListener(*this);
}

const TTreeNode* TDicomTreeView::NodeOfItem(const QTreeWidgetItem* item) {
    CatchUp();
    const auto found = nodes_.find(item);
    return found == nodes_.end() ? nullptr : found->second;
}

QTreeWidgetItem* TDicomTreeView::ItemOfNode(const TTreeNode* node) {
    CatchUp();
    return RowOf(node);
}

QTreeWidgetItem* TDicomTreeView::RowOf(const TTreeNode* node) const {
    const auto found = mirrors_.find(node);
    return found == mirrors_.end() ? nullptr : found->second.Item;
}

TDicomTreeView::TRowHold::~TRowHold() {
    if (--view_.holds_ > 0) return;
    try {
        view_.CatchUp();
    } catch (...) {
        // Still behind: the next structure change or look at the rows tries again.
    }
}

const QIcon& TDicomTreeView::PictureIcon(TNodePicture picture, bool overlayMarked) const {
    const std::size_t index = PictureIndex(picture);
    if (index >= pictures_.size()) return noPicture_;
    return overlayMarked ? overlaidPictures_[index] : pictures_[index];
}

void TDicomTreeView::StructureChanging(TDicomTree&) {
    changing_ = true;
}

void TDicomTreeView::StructureChanged(TDicomTree&) {
    changing_ = false;
    if (holds_ > 0) {
        behind_ = true;
        return;
    }
    FollowStructure();
}

void TDicomTreeView::FollowStructure() {
    behind_ = false;
    // A row that moved lost its place as the current row: put back, it is not shown anew.
    const QTreeWidgetItem* before = currentItem();
    Synchronize();
    FollowSelection(RowOf(tree_.Selected()) != before);
}

void TDicomTreeView::CatchUp() {
    if (behind_ && !changing_) FollowStructure();
}

void TDicomTreeView::TreeNodeChanged(TDicomTree&, const TTreeNode& node) {
    if (changing_ || behind_) return; // the structure's end (or the catch-up) looks at every node
    const auto found = mirrors_.find(&node);
    if (found != mirrors_.end()) Show(found->second, node, false);
}

void TDicomTreeView::SelectionChanged(TDicomTree&) {
    if (!changing_) FollowSelection(true);
}

void TDicomTreeView::Synchronize() {
    const QScopedValueRollback quiet(quiet_, true);
    ++generation_;
    const bool updating = updatesEnabled();
    setUpdatesEnabled(false);
    // Rows taken out of their parent go here; those no node claims again are deleted at the end.
    std::vector<std::unique_ptr<QTreeWidgetItem>> orphans;
    // Rows (re-)inserted: the view forgot their expanded state and their descendants'.
    std::vector<QTreeWidgetItem*> placed;
    SynchronizeChildren(*invisibleRootItem(), tree_.Roots(), orphans, placed);

    for (auto it = mirrors_.begin(); it != mirrors_.end();) {
        if (it->second.Seen != generation_) {
            nodes_.erase(it->second.Item);
            it = mirrors_.erase(it);
        } else {
            ++it;
        }
    }
    for (auto& orphan : orphans)
        if (orphan->parent() || orphan->treeWidget()) static_cast<void>(orphan.release()); // placed again
    orphans.clear();
    for (QTreeWidgetItem* item : placed) RestoreExpanded(*item);
    setUpdatesEnabled(updating);
}

void TDicomTreeView::SynchronizeChildren(QTreeWidgetItem& parent,
                                         const std::vector<std::unique_ptr<TTreeNode>>& nodes,
                                         std::vector<std::unique_ptr<QTreeWidgetItem>>& orphans,
                                         std::vector<QTreeWidgetItem*>& placed) {
    std::vector<QTreeWidgetItem*> wanted;
    wanted.reserve(nodes.size());
    for (const auto& node : nodes) wanted.push_back(MirrorOf(*node).Item);

    // Loading appends one row at a time: the rows already there stay where they are.
    const int present = parent.childCount();
    int kept = 0;
    while (kept < present && std::size_t(kept) < wanted.size() && parent.child(kept) == wanted[kept]) ++kept;
    if (kept < present) {
        // Another order or rows gone: take every row from kept on and put back the wanted ones.
        for (int i = present - 1; i >= kept; --i) orphans.emplace_back(parent.takeChild(i));
    }
    QList<QTreeWidgetItem*> added;
    for (std::size_t i = std::size_t(kept); i < wanted.size(); ++i) {
        QTreeWidgetItem* item = wanted[i];
        // A row under another parent (or its node's address taken by a new node) moves here.
        if (QTreeWidgetItem* old = item->parent())
            old->removeChild(item);
        else if (item->treeWidget())
            takeTopLevelItem(indexOfTopLevelItem(item));
        added.append(item);
    }
    parent.addChildren(added);
    placed.insert(placed.end(), added.begin(), added.end());

    for (const auto& node : nodes) {
        TMirror& mirror = mirrors_.at(node.get());
        SynchronizeChildren(*mirror.Item, node->Children(), orphans, placed);
    }
}

TDicomTreeView::TMirror& TDicomTreeView::MirrorOf(const TTreeNode& node) {
    auto [found, fresh] = mirrors_.try_emplace(&node);
    TMirror& mirror = found->second;
    if (fresh) {
        // The row belongs to the widget once it is inserted.
        mirror.Item = new QTreeWidgetItem();
        nodes_[mirror.Item] = &node;
    }
    mirror.Seen = generation_;
    Show(mirror, node, fresh);
    return mirror;
}

void TDicomTreeView::Show(TMirror& mirror, const TTreeNode& node, bool fresh) {
    QTreeWidgetItem& item = *mirror.Item;
    if (fresh || mirror.Caption != node.Caption()) {
        mirror.Caption = node.Caption();
        // A read error's message may run over lines; a row shows one.
        item.setText(0, QString::fromStdString(OneLine(mirror.Caption)));
    }
    if (fresh || mirror.Picture != node.Picture() || mirror.Overlay != node.OverlayMarked()) {
        mirror.Picture = node.Picture();
        mirror.Overlay = node.OverlayMarked();
        item.setIcon(0, PictureIcon(mirror.Picture, mirror.Overlay));
    }
    if (fresh || mirror.NodeExpanded != node.Expanded()) {
        mirror.NodeExpanded = mirror.Expanded = node.Expanded();
        if (item.treeWidget()) {
            const QScopedValueRollback quiet(quiet_, true);
            item.setExpanded(mirror.Expanded);
        }
    }
}

void TDicomTreeView::RestoreExpanded(QTreeWidgetItem& item) {
    const auto node = nodes_.find(&item);
    if (node == nodes_.end()) return;
    if (const bool expanded = mirrors_.at(node->second).Expanded; item.isExpanded() != expanded)
        item.setExpanded(expanded);
    for (int i = 0; i < item.childCount(); ++i) RestoreExpanded(*item.child(i));
}

void TDicomTreeView::FollowSelection(bool reveal) {
    CatchUp();
    QTreeWidgetItem* item = RowOf(tree_.Selected());
    if (item == currentItem() && (!item || item->isSelected())) return;
    const QScopedValueRollback quiet(quiet_, true);
    if (item) {
        // Showing a row expands its parents; a row put back stays where the user left it.
        const bool scrolling = hasAutoScroll();
        setAutoScroll(reveal && scrolling);
        setCurrentItem(item);
        setAutoScroll(scrolling);
        if (reveal) scrollToItem(item);
    } else {
        setCurrentItem(nullptr);
        clearSelection();
    }
}

void TDicomTreeView::UserSelected(QTreeWidgetItem* current) {
    // Rows behind the tree may show nodes that are gone; the catch-up puts the current row back.
    if (quiet_ || changing_ || behind_) return;
    tree_.SelectNode(NodeOfItem(current));
}

void TDicomTreeView::UserExpanded(QTreeWidgetItem* item, bool expanded) {
    if (quiet_ || changing_ || behind_) return;
    if (const TTreeNode* node = NodeOfItem(item)) mirrors_.at(node).Expanded = expanded;
}

} // namespace tarvicon
