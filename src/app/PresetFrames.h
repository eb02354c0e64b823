#pragma once
// The page "Presets": the four menus of the configuration document and the parameter tree.

#include "config/ConfigDocuments.h"

#include <QWidget>
#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class QMenu;
class QTreeWidget;

namespace tarvicon {

class TConfigNode;

// The kind a menu item's hint names: the text after the first "[" up to the next "]", trimmed.
std::string KindFromHint(std::string_view hint);

// The page "Presets": the menus "Presets", "Levels", "Scalings" and "Colorings" and a read-only
// tree of the parameters with their values, refreshed by "Update".
class TPresetFrame : public QWidget {
    Q_OBJECT
public:
    explicit TPresetFrame(QWidget* parent = nullptr);

    // A menu entry was chosen: the kind its hint names and its index in its section.
    std::function<void(const std::string& kind, int index)> OnSelectPreset;

    // Fills the menu of a kind ("preset", "level", "scaling", "coloring") with its entries,
    // dropping what it held; other kinds fill nothing.
    void FillMenu(const std::string& kind, const std::vector<TMenuEntry>& entries);
    // The menu of a kind; an unknown kind is a std::invalid_argument.
    QMenu& Menu(const std::string& kind);
    // The tree's root (not owned); shows its tree at once.
    void SetRoot(TConfigNode* root);
    // One line per parameter node, under its parent's line: the name, and " = " and the value
    // when it has one; each level sorted by text.
    void RebuildTree();
    // The tree view (for the window's tests and the "Update" button).
    QTreeWidget& Tree() { return *tree_; }

private:
    TConfigNode* root_ = nullptr;
    QTreeWidget* tree_ = nullptr;
    std::array<QMenu*, 4> menus_{};
};

} // namespace tarvicon
