#pragma once
// The panels of the control column around the views: the shortcut bar of preset keys, the
// command panel's page, the series overview and element list, the preset page and the trace.
// Each is a widget of its own that the main window places and feeds.

#include "config/ConfigDocuments.h"

#include <QWidget>
#include <array>
#include <functional>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QToolBar;
class QToolButton;
class QTreeWidget;

namespace tarvicon {

class TConfigNode;
class TDicomObject;

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

// The page "Control": the command panel bound to the parameter tree.
class TMiniControlFrame : public QWidget {
    Q_OBJECT
public:
    explicit TMiniControlFrame(QWidget* parent = nullptr);
    void SetRoot(TConfigNode* root) { root_ = root; }
    void SetObject(TDicomObject* object);
    TDicomObject* Object() const { return object_; }
    // Slider updates stop between Suspend and Resume (a busy bracket).
    void Suspend() { ++suspended_; }
    void Resume() { --suspended_; }

private:
    TConfigNode* root_ = nullptr;
    TDicomObject* object_ = nullptr;
    QLabel* caption_ = nullptr;
    int suspended_ = 0;
};

// The page "Info": the overview of the current series.
class TDicomOverviewFrame : public QWidget {
    Q_OBJECT
public:
    explicit TDicomOverviewFrame(QWidget* parent = nullptr);
    void SetObject(TDicomObject* object);
    TDicomObject* Object() const { return object_; }

private:
    TDicomObject* object_ = nullptr;
    QTreeWidget* list_ = nullptr;
};

// The page "FullInfo": the element list of the current series' image.
class TDicomInfoFrame : public QWidget {
    Q_OBJECT
public:
    explicit TDicomInfoFrame(QWidget* parent = nullptr);
    void SetObject(TDicomObject* object);
    TDicomObject* Object() const { return object_; }

private:
    TDicomObject* object_ = nullptr;
    QPlainTextEdit* text_ = nullptr;
};

// The page "Presets": the four menus of the configuration document and the parameter tree.
class TPresetFrame : public QWidget {
    Q_OBJECT
public:
    explicit TPresetFrame(QWidget* parent = nullptr);

    // A menu entry was chosen: its kind and index.
    std::function<void(const std::string& kind, int index)> OnSelectPreset;

    // Fills the menu of a kind ("preset", "level", "scaling", "coloring") with its entries.
    void FillMenu(const std::string& kind, const std::vector<TMenuEntry>& entries);
    // The menu of a kind.
    QMenu& Menu(const std::string& kind);
    void SetRoot(TConfigNode* root);
    // One line per parameter node with its value.
    void RebuildTree();

private:
    TConfigNode* root_ = nullptr;
    QTreeWidget* tree_ = nullptr;
    std::array<QMenu*, 4> menus_{};
};

// The page "Trace": the log lines, taken into the page when the window is idle.
class TTraceFrame : public QWidget {
    Q_OBJECT
public:
    explicit TTraceFrame(QWidget* parent = nullptr);
    // Keeps a line for the next flush.
    void Log(const std::string& text);
    // Shows the lines kept since the last flush.
    void Flush();
    QString Text() const;

private:
    QPlainTextEdit* text_ = nullptr;
    std::vector<std::string> pending_;
};

} // namespace tarvicon
