#include "app/ShortcutFrames.h"

#include <QAction>
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

} // namespace tarvicon
