#pragma once
// The shortcut bar: the preset keys F1–F12 and Alt+F1–Alt+F12, the automatic button and the
// drop-down of the window's menu.

#include <QWidget>
#include <array>
#include <functional>
#include <string>

class QAction;
class QMenu;
class QToolBar;
class QToolButton;

namespace tarvicon {

// The preset keys F1–F12 and Alt+F1–Alt+F12: each key applies the preset assigned to it.
class TShortcutFrame : public QWidget {
    Q_OBJECT
public:
    explicit TShortcutFrame(QWidget* parent = nullptr);

    // A key was pressed or clicked: the preset index assigned to it.
    std::function<void(int index)> OnPreset;

    // Every key unassigned, disabled and hidden.
    void ClearPresets();
    // Assigns a preset to the key written as "F2" or "Alt+F3"; the keys up to it show. A key
    // no action has registers nothing.
    void AddPresetKey(const std::string& key, const std::string& caption, int index, const std::string& hint);
    // The Alt set shown while Alt is held, the plain set otherwise.
    void ShowAltSet(bool altHeld);
    // The preset index of a key, −1 when none is assigned.
    int PresetOf(const std::string& key) const;
    // The actions, F1–F12 then Alt+F1–Alt+F12 (the window adds them for their keys).
    const std::array<QAction*, 24>& Actions() const { return actions_; }
    // The "Menu" button drops down the window's context menu.
    void SetDropDownMenu(QMenu* menu);
    QToolButton& AutoButton() { return *autoButton_; }

private:
    QToolBar* toolBar1_ = nullptr;
    QToolBar* toolBar3_ = nullptr;
    QToolButton* menuButton_ = nullptr;
    QToolButton* autoButton_ = nullptr;
    std::array<QAction*, 24> actions_{};
};

} // namespace tarvicon
