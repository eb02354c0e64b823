#include "app/PresetFrames.h"

#include "config/ConfigNodes.h"

#include <QAction>
#include <QMenu>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <functional>

namespace tarvicon {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

constexpr std::array<const char*, 4> kMenuKinds = {"preset", "level", "scaling", "coloring"};
constexpr std::array<const char*, 4> kMenuCaptions = {"Presets", "Levels", "Scalings", "Colorings"};
constexpr std::array<const char*, 4> kMenuHints = {"Select preset preset", "Select levels preset",
                                                   "Select scaling preset", "Select coloring preset"};

} // namespace

TPresetFrame::TPresetFrame(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* bar = new QToolBar(this);
    QAction* update = bar->addAction("Update");
    connect(update, &QAction::triggered, this, [this] {
        RebuildTree();
        if (tree_->topLevelItemCount() > 0) tree_->topLevelItem(0)->setExpanded(true);
    });
    for (std::size_t i = 0; i < kMenuKinds.size(); ++i) {
        auto* button = new QToolButton(bar);
        button->setText(kMenuCaptions[i]);
        button->setToolTip(kMenuHints[i]);
        button->setPopupMode(QToolButton::InstantPopup);
        menus_[i] = new QMenu(button);
        menus_[i]->setToolTipsVisible(true);
        button->setMenu(menus_[i]);
        bar->addWidget(button);
    }
    layout->addWidget(bar);
    tree_ = new QTreeWidget(this);
    tree_->setHeaderHidden(true);
    tree_->setSortingEnabled(true);
    tree_->sortByColumn(0, Qt::AscendingOrder);
    layout->addWidget(tree_);
}

QMenu& TPresetFrame::Menu(const std::string& kind) {
    for (std::size_t i = 0; i < kMenuKinds.size(); ++i)
        if (kind == kMenuKinds[i]) return *menus_[i];
    return *menus_[0];
}

void TPresetFrame::FillMenu(const std::string& kind, const std::vector<TMenuEntry>& entries) {
    QMenu& menu = Menu(kind);
    menu.clear();
    for (const TMenuEntry& entry : entries) {
        QAction* item = menu.addAction(Q(entry.Caption));
        item->setToolTip(Q(entry.Hint));
        item->setData(entry.Index);
        connect(item, &QAction::triggered, this, [this, item] {
            // The kind is read back from the hint's "[kind]", as the menu shows it.
            const std::string hint = item->toolTip().toStdString();
            const auto open = hint.find('[');
            if (open == std::string::npos) return;
            std::string kindText = hint.substr(open + 1);
            kindText = kindText.substr(0, kindText.find(']'));
            kindText = QString::fromStdString(kindText).trimmed().toStdString();
            if (OnSelectPreset) OnSelectPreset(kindText, item->data().toInt());
        });
    }
}

void TPresetFrame::SetRoot(TConfigNode* root) {
    root_ = root;
    RebuildTree();
}

void TPresetFrame::RebuildTree() {
    tree_->setUpdatesEnabled(false);
    tree_->clear();
    if (root_) {
        const std::function<void(const TConfigNode&, QTreeWidgetItem*)> add = [&](const TConfigNode& node,
                                                                                  QTreeWidgetItem* parent) {
            for (int i = 0; i < node.ChildCount(); ++i) {
                const TConfigNode& child = node.Child(i);
                std::string line = child.Name();
                const std::string text = child.GetText();
                if (!text.empty()) line += " = " + text;
                auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree_);
                item->setText(0, Q(line));
                add(child, item);
            }
        };
        add(*root_, nullptr);
    }
    tree_->setUpdatesEnabled(true);
}

} // namespace tarvicon
