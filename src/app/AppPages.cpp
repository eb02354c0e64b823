#include "app/AppPages.h"

#include "catalogue/DicomObjects.h"
#include "config/ConfigNodes.h"

#include <QAction>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tarvicon {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

constexpr std::array<const char*, 4> kMenuKinds = {"preset", "level", "scaling", "coloring"};
constexpr std::array<const char*, 4> kMenuCaptions = {"Presets", "Levels", "Scalings", "Colorings"};
constexpr std::array<const char*, 4> kMenuHints = {"Select preset preset", "Select levels preset",
                                                   "Select scaling preset", "Select coloring preset"};

std::string KeyText(int i) {
    return (i < 12 ? "F" : "Alt+F") + std::to_string(i % 12 + 1);
}

} // namespace

TShortcutFrame::TShortcutFrame(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    menuButton_ = new QToolButton(this);
    menuButton_->setText("Menu");
    menuButton_->setToolTip("Dropdown main menu");
    menuButton_->setPopupMode(QToolButton::InstantPopup);
    menuButton_->hide();
    layout->addWidget(menuButton_);
    autoButton_ = new QToolButton(this);
    autoButton_->setText("Auto");
    autoButton_->setToolTip("Autosetup by modality");
    layout->addWidget(autoButton_);
    toolBar1_ = new QToolBar("Preset", this);
    toolBar3_ = new QToolBar("Preset", this);
    toolBar3_->hide();
    layout->addWidget(toolBar1_);
    layout->addWidget(toolBar3_);
    layout->addStretch(1);
    for (int i = 0; i < 24; ++i) {
        QAction* action = new QAction(this);
        action->setShortcut(QKeySequence(Q(KeyText(i))));
        action->setShortcutContext(Qt::WindowShortcut);
        action->setData(-1);
        connect(action, &QAction::triggered, this, [this, action] {
            if (OnPreset && action->data().toInt() >= 0) OnPreset(action->data().toInt());
        });
        (i < 12 ? toolBar1_ : toolBar3_)->addAction(action);
        if (i % 4 == 3 && i % 12 != 11) (i < 12 ? toolBar1_ : toolBar3_)->addSeparator();
        actions_[static_cast<std::size_t>(i)] = action;
    }
    ClearPresets();
}

void TShortcutFrame::ClearPresets() {
    for (int i = 0; i < 24; ++i) {
        QAction* action = actions_[static_cast<std::size_t>(i)];
        action->setData(-1);
        action->setEnabled(false);
        action->setText(Q(KeyText(i)));
        action->setToolTip(Q("Preset key " + KeyText(i)));
        action->setVisible(false);
    }
}

void TShortcutFrame::AddPresetKey(const std::string& key, const std::string& caption, int index,
                                  const std::string& hint) {
    const QKeySequence wanted(Q(key));
    for (int i = 0; i < 24; ++i) {
        QAction* action = actions_[static_cast<std::size_t>(i)];
        if (action->shortcut() != wanted) continue;
        action->setData(index);
        action->setEnabled(true);
        action->setText(Q(caption));
        action->setToolTip(Q(hint));
        for (int j = 0; j <= i; ++j) actions_[static_cast<std::size_t>(j)]->setVisible(true);
    }
}

void TShortcutFrame::ShowAltSet(bool altHeld) {
    if (toolBar3_->isVisibleTo(this) == altHeld) return;
    toolBar3_->setVisible(altHeld);
    toolBar1_->setVisible(!altHeld);
}

int TShortcutFrame::PresetOf(const std::string& key) const {
    const QKeySequence wanted(Q(key));
    for (const QAction* action : actions_)
        if (action->shortcut() == wanted) return action->data().toInt();
    return -1;
}

void TShortcutFrame::SetDropDownMenu(QMenu* menu) {
    menuButton_->setMenu(menu);
    menuButton_->show();
}

TMiniControlFrame::TMiniControlFrame(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    caption_ = new QLabel(this);
    caption_->setWordWrap(true);
    layout->addWidget(caption_);
    layout->addStretch(1);
}

void TMiniControlFrame::SetObject(TDicomObject* object) {
    object_ = object;
    caption_->setText(object ? Q(object->Description()) : QString());
}

TDicomOverviewFrame::TDicomOverviewFrame(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    list_ = new QTreeWidget(this);
    list_->setColumnCount(2);
    list_->setHeaderHidden(true);
    list_->setRootIsDecorated(false);
    layout->addWidget(list_);
}

void TDicomOverviewFrame::SetObject(TDicomObject* object) {
    object_ = object;
    list_->clear();
    if (!object) return;
    for (const char* key :
         {"Patient's name", "Patient ID", "Study description", "Series description", "Modality"}) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, key);
        item->setText(1, Q(object->GetValue(key)));
    }
}

TDicomInfoFrame::TDicomInfoFrame(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    text_ = new QPlainTextEdit(this);
    text_->setReadOnly(true);
    layout->addWidget(text_);
}

void TDicomInfoFrame::SetObject(TDicomObject* object) {
    object_ = object;
    text_->setPlainText(object ? Q(object->Description()) : QString());
}

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

TTraceFrame::TTraceFrame(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    text_ = new QPlainTextEdit(this);
    text_->setReadOnly(true);
    text_->setMaximumBlockCount(2000);
    layout->addWidget(text_);
}

void TTraceFrame::Log(const std::string& text) {
    pending_.push_back(text);
}

void TTraceFrame::Flush() {
    if (pending_.empty()) return;
    for (const std::string& line : pending_) text_->appendPlainText(Q(line));
    pending_.clear();
}

QString TTraceFrame::Text() const {
    return text_->toPlainText();
}

} // namespace tarvicon
