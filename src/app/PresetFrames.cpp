#include "app/PresetFrames.h"

#include "config/ConfigNodes.h"
#include "util/Strings.h"

#include <QAction>
#include <QMenu>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <stdexcept>

namespace tarvicon {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

struct TMenuButton {
    const char* Kind;
    const char* Caption;
    const char* Hint;
    const char* Name;
};

constexpr std::array<TMenuButton, 4> kMenuButtons = {{
    {"preset", "Presets", "Select preset preset", "PresetMenu"},
    {"level", "Levels", "Select levels preset", "LevelsMenu"},
    {"scaling", "Scalings", "Select scaling preset", "ScalingMenu"},
    {"coloring", "Colorings", "Select coloring preset", "ColoringMenu"},
}};

int MenuIndex(std::string_view kind) {
    for (std::size_t i = 0; i < kMenuButtons.size(); ++i)
        if (kind == kMenuButtons[i].Kind) return static_cast<int>(i);
    return -1;
}

// The node's line and its children's lines below it, depth first.
void AddLines(const TConfigNode& node, QTreeWidgetItem& line) {
    std::string text = node.Name();
    if (const std::string value = node.GetText(); !value.empty()) text += " = " + value;
    line.setText(0, Q(text));
    for (int i = 0; i < node.ChildCount(); ++i) AddLines(node.Child(i), *new QTreeWidgetItem(&line));
}

} // namespace

std::string KindFromHint(std::string_view hint) {
    if (const auto open = hint.find('['); open != std::string_view::npos) hint.remove_prefix(open + 1);
    return std::string(Trim(hint.substr(0, hint.find(']'))));
}

TPresetFrame::TPresetFrame(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* bar = new QToolBar(this);
    bar->setObjectName("ToolBar1");
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    QAction* update = bar->addAction("Update");
    update->setObjectName("ToolButton5");
    // The tree shows the values of its last rebuild; parameter changes do not refresh it.
    connect(update, &QAction::triggered, this, [this] {
        RebuildTree();
        if (tree_->topLevelItemCount() > 0) tree_->topLevelItem(0)->setExpanded(true);
    });
    for (std::size_t i = 0; i < kMenuButtons.size(); ++i) {
        auto* button = new QToolButton(bar);
        button->setText(kMenuButtons[i].Caption);
        button->setToolTip(kMenuButtons[i].Hint);
        button->setStatusTip(kMenuButtons[i].Hint);
        button->setAutoRaise(true);
        button->setPopupMode(QToolButton::InstantPopup);
        menus_[i] = new QMenu(button);
        menus_[i]->setObjectName(kMenuButtons[i].Name);
        menus_[i]->setToolTipsVisible(true);
        button->setMenu(menus_[i]);
        bar->addWidget(button);
    }
    layout->addWidget(bar);

    tree_ = new QTreeWidget(this);
    tree_->setObjectName("TreeView1");
    tree_->setHeaderHidden(true);
    tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // A line expands when it becomes the current one.
    connect(tree_, &QTreeWidget::currentItemChanged, this, [](QTreeWidgetItem* current) {
        if (current) current->setExpanded(true);
    });
    layout->addWidget(tree_, 1);
}

QMenu& TPresetFrame::Menu(const std::string& kind) {
    const int i = MenuIndex(kind);
    if (i < 0) throw std::invalid_argument("No preset menu for " + kind);
    return *menus_[static_cast<std::size_t>(i)];
}

void TPresetFrame::FillMenu(const std::string& kind, const std::vector<TMenuEntry>& entries) {
    if (MenuIndex(kind) < 0) return;
    QMenu& menu = Menu(kind);
    menu.clear();
    for (const TMenuEntry& entry : entries) {
        QAction* item = menu.addAction(Q(entry.Caption));
        item->setToolTip(Q(entry.Hint));
        item->setStatusTip(Q(entry.Hint));
        item->setData(entry.Index);
        // The kind comes back from the hint as the menu shows it, whatever menu holds the item.
        connect(item, &QAction::triggered, this, [this, item] {
            if (OnSelectPreset)
                OnSelectPreset(KindFromHint(item->toolTip().toStdString()), item->data().toInt());
        });
    }
}

void TPresetFrame::SetRoot(TConfigNode* root) {
    root_ = root;
    RebuildTree();
}

void TPresetFrame::RebuildTree() {
    tree_->setUpdatesEnabled(false);
    // Sorted once, after the lines are in.
    tree_->setSortingEnabled(false);
    tree_->clear();
    if (root_) AddLines(*root_, *new QTreeWidgetItem(tree_));
    tree_->setSortingEnabled(true);
    tree_->sortByColumn(0, Qt::AscendingOrder);
    tree_->setUpdatesEnabled(true);
}

} // namespace tarvicon
