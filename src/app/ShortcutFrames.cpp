#include "app/ShortcutFrames.h"

#include <QAction>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QMenu>
#include <QToolBar>
#include <QToolButton>

namespace tarvicon {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// "F1" … "F12" for the plain keys, "Alt+F1" … "Alt+F12" for the Alt keys.
QString KeyText(std::size_t i) {
    return QString(i < 12 ? "F%1" : "Alt+F%1").arg(i % 12 + 1);
}

// The height the bars take once keys are assigned.
constexpr int kBarHeight = 25;

QToolBar* MakeBar(const QString& name, QWidget* parent) {
    auto* bar = new QToolBar("Preset", parent);
    bar->setObjectName(name);
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    bar->setContentsMargins(0, 0, 0, 0);
    return bar;
}

QToolButton* MakeButton(const QString& name, const QString& caption, const QString& hint, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(caption);
    button->setToolTip(hint);
    button->setStatusTip(hint);
    button->setAutoRaise(true);
    return button;
}

} // namespace

TShortcutFrame::TShortcutFrame(QWidget* parent)
    : QWidget(parent), helpAddress_(QUrl::fromLocalFile(TARVICON_HELP_PAGE)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // The buttons in front of both key sets.
    QToolBar* front = MakeBar("FrontBar", this);
    menuButton_ = MakeButton("DropDownMenu", "Menu", "Dropdown main menu", front);
    menuButton_->setPopupMode(QToolButton::InstantPopup);
    menuPlace_ = front->addWidget(menuButton_);
    menuPlace_->setVisible(false);

    helpAction_ = new QAction("Help", this);
    helpAction_->setObjectName("HelpAction");
    helpAction_->setToolTip("Help on application");
    helpAction_->setStatusTip("Help on application");
    helpAction_->setShortcut(QKeySequence(Qt::KeypadModifier | Qt::Key_Slash));
    helpAction_->setData(kHelpActionTag);
    connect(helpAction_, &QAction::triggered, this, [this] { QDesktopServices::openUrl(helpAddress_); });
    QToolButton* help = MakeButton("ToolButton16", {}, {}, front);
    help->setDefaultAction(helpAction_);
    front->addWidget(help);

    autoButton_ = MakeButton("AutoButton", "Auto", "Autosetup by modality", front);
    front->addWidget(autoButton_);

    popupMenu1_ = new QMenu(this);
    popupMenu1_->setObjectName("PopupMenu1");
    popupMenu1_->setToolTipsVisible(true);
    QToolButton* altButton = MakeButton("ToolButton15", "Preset", "Secondary function keys Alt+Fn", front);
    altButton->setPopupMode(QToolButton::InstantPopup);
    altButton->setMenu(popupMenu1_);
    front->addWidget(altButton);
    layout->addWidget(front);

    toolBar1_ = MakeBar("ToolBar1", this);
    toolBar3_ = MakeBar("ToolBar3", this);
    toolBar3_->hide();
    layout->addWidget(toolBar1_);
    layout->addWidget(toolBar3_);
    layout->addStretch(1);

    for (std::size_t i = 0; i < actions_.size(); ++i) {
        QToolBar* bar = i < 12 ? toolBar1_ : toolBar3_;
        if (i % 4 == 0 && i % 12 != 0) {
            // The keys in groups of four; the gap before a group shows with the group.
            auto* gap = new QWidget(bar);
            gap->setFixedWidth(8);
            spacers_[i / 4 - 1 - i / 12] = bar->addWidget(gap);
            // Qt menus have no columns: the Alt menu's groups are parted by separators.
            if (i > 12) popupMenu1_->addSeparator();
        }
        auto* action = new QAction(this);
        action->setObjectName(QString(i < 12 ? "F%1Action" : "AltF%1Action").arg(i % 12 + 1));
        action->setShortcut(QKeySequence(KeyText(i)));
        connect(action, &QAction::triggered, this, [this, action] {
            if (action->isEnabled() && OnPreset) OnPreset(action->data().toInt());
        });
        bar->addAction(action);
        if (i >= 12) popupMenu1_->addAction(action);
        actions_[i] = action;
    }

    setFixedHeight(toolBar1_->sizeHint().height());
    ClearPresets();
}

void TShortcutFrame::ClearPresets() {
    for (std::size_t i = 0; i < actions_.size(); ++i) {
        QAction* action = actions_[i];
        const QString key = action->shortcut().toString(QKeySequence::PortableText);
        action->setData(-1);
        action->setEnabled(false);
        action->setText(key);
        action->setToolTip("Preset key " + key);
        action->setStatusTip("Preset key " + key);
        action->setVisible(false);
    }
    for (QAction* spacer : spacers_) spacer->setVisible(false);
}

void TShortcutFrame::AddPresetKey(const std::string& key, const std::string& caption, int index,
                                  const std::string& hint) {
    const QKeySequence wanted = QKeySequence::fromString(Q(key), QKeySequence::PortableText);
    for (std::size_t i = 0; i < actions_.size(); ++i) {
        QAction* action = actions_[i];
        if (wanted.isEmpty() || action->shortcut() != wanted) continue;
        action->setData(index);
        action->setEnabled(true);
        action->setText(Q(caption));
        action->setToolTip(Q(hint));
        action->setStatusTip(Q(hint));
        for (std::size_t j = 0; j <= i; ++j) actions_[j]->setVisible(true);
    }
    // The gap before F5 shows with F5, and so on.
    constexpr std::array<std::size_t, 4> kAfter = {4, 8, 16, 20};
    for (std::size_t s = 0; s < spacers_.size(); ++s)
        spacers_[s]->setVisible(actions_[kAfter[s]]->isVisible());
    toolBar1_->setFixedHeight(kBarHeight);
    toolBar3_->setFixedHeight(kBarHeight);
    toolBar1_->updateGeometry();
}

void TShortcutFrame::ShowAltSet(bool altHeld) {
    if (AltSetShown() == altHeld) return;
    toolBar3_->setVisible(altHeld);
    toolBar1_->setVisible(!altHeld);
}

bool TShortcutFrame::AltSetShown() const {
    return !toolBar3_->isHidden();
}

int TShortcutFrame::PresetOf(const std::string& key) const {
    const QKeySequence wanted = QKeySequence::fromString(Q(key), QKeySequence::PortableText);
    for (const QAction* action : actions_)
        if (!wanted.isEmpty() && action->shortcut() == wanted) return action->data().toInt();
    return -1;
}

void TShortcutFrame::SetDropDownMenu(QMenu* menu) {
    menuButton_->setMenu(menu);
    menuPlace_->setVisible(menu != nullptr);
}

} // namespace tarvicon
