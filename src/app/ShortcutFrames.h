#pragma once
// The shortcut bar: the preset keys F1–F12 and Alt+F1–Alt+F12, the help key, the automatic
// button and the drop-down of the window's menu.

#include <QUrl>
#include <QWidget>
#include <array>
#include <functional>
#include <string>

class QAction;
class QMenu;
class QToolBar;
class QToolButton;

namespace tarvicon {

// The tag of the help action: it is no preset key.
inline constexpr int kHelpActionTag = -747;

// The preset keys F1–F12 and Alt+F1–Alt+F12: each key applies the preset assigned to it. The
// plain keys sit on ToolBar1, the Alt keys on ToolBar3, which shows in its place while Alt is
// held; the buttons "Menu", "Help", "Auto" and "Preset" stay in front of both.
class TShortcutFrame : public QWidget {
    Q_OBJECT
public:
    explicit TShortcutFrame(QWidget* parent = nullptr);

    // A key was pressed or clicked: the preset index assigned to it.
    std::function<void(int index)> OnPreset;

    // Every key unassigned (tag −1), disabled, hidden, captioned with its key and hinted
    // "Preset key " and the key; the help action stays as it is.
    void ClearPresets();
    // Assigns a preset to the key written as "F2" or "Alt+F3": that key is enabled and every
    // key up to it shows. A later assignment replaces an earlier one; a key no action has
    // registers nothing.
    void AddPresetKey(const std::string& key, const std::string& caption, int index, const std::string& hint);
    // The Alt set shown while Alt is held, the plain set otherwise.
    void ShowAltSet(bool altHeld);
    // True while the Alt set is the one shown.
    bool AltSetShown() const;
    // The preset index of a key, −1 when none is assigned or no action has the key.
    int PresetOf(const std::string& key) const;
    // The actions, F1–F12 then Alt+F1–Alt+F12 (the window adds them for their keys).
    const std::array<QAction*, 24>& Actions() const { return actions_; }
    // "Help" on the keypad's divide key: opens the help page.
    QAction& HelpAction() { return *helpAction_; }
    // The help page's address; the project's README beside the sources unless set.
    const QUrl& HelpAddress() const { return helpAddress_; }
    void SetHelpAddress(QUrl address) { helpAddress_ = std::move(address); }
    // The "Menu" button shows and drops down the window's context menu.
    void SetDropDownMenu(QMenu* menu);
    // "Auto": the window binds it to the automatic setup.
    QToolButton& AutoButton() { return *autoButton_; }
    // The Alt keys' menu under the button "Preset".
    QMenu& AltMenu() { return *popupMenu1_; }

private:
    QToolBar* toolBar1_ = nullptr;
    QToolBar* toolBar3_ = nullptr;
    QToolButton* menuButton_ = nullptr;
    QAction* menuPlace_ = nullptr; // the button's place on its bar: shows and hides it
    QToolButton* autoButton_ = nullptr;
    QMenu* popupMenu1_ = nullptr;
    QAction* helpAction_ = nullptr;
    QUrl helpAddress_;
    std::array<QAction*, 24> actions_{};
    // The gaps before F5, F9, Alt+F5 and Alt+F9; each shows with the key after it.
    std::array<QAction*, 4> spacers_{};
};

} // namespace tarvicon
