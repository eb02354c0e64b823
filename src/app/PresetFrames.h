#pragma once
// The page "Presets": the four menus of the configuration document and the parameter tree.

#include "config/ConfigDocuments.h"

#include <QWidget>
#include <array>
#include <functional>
#include <string>
#include <vector>

class QMenu;
class QTreeWidget;

namespace tarvicon {

class TConfigNode;

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

} // namespace tarvicon
