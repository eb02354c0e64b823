#pragma once
// TDicomTreeView: the study tree's widget. It mirrors the nodes of a TDicomTree (patient, study,
// series, image) with their captions, pictures and the overlay mark, and carries the selection
// both ways: a row the user picks selects its node in the tree, a selection the tree makes in
// code moves the current row. It sets the tree's caption order to the locale's collation.

#include "catalogue/DicomTrees.h"

#include <QIcon>
#include <QTreeWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class QStyledItemDelegate;

namespace tarvicon {

class TDicomTreeView : public QTreeWidget, private ITreeListener {
    Q_OBJECT
public:
    // Mirrors the tree's nodes from now on and sets the tree's caption order.
    explicit TDicomTreeView(TDicomTree& tree, QWidget* parent = nullptr);
    ~TDicomTreeView() override;
    TDicomTreeView(const TDicomTreeView&) = delete;
    TDicomTreeView& operator=(const TDicomTreeView&) = delete;

    // The node a row shows, or null. Valid until the tree's next structure change.
    const TTreeNode* NodeOfItem(const QTreeWidgetItem* item);
    // The row showing a node, or null.
    QTreeWidgetItem* ItemOfNode(const TTreeNode* node);
    // While held, structure changes only mark the rows as behind the tree, and the last hold to
    // end brings them up to date once: for work that changes the tree many times before the event
    // loop runs again (a load's time slice files hundreds of files, and bringing every row up to
    // date after each would cost time in the number of rows for every file). Holds nest.
    class TRowHold {
    public:
        explicit TRowHold(TDicomTreeView& view) : view_(view) { ++view_.holds_; }
        ~TRowHold();
        TRowHold(const TRowHold&) = delete;
        TRowHold& operator=(const TRowHold&) = delete;

    private:
        TDicomTreeView& view_;
    };
    // The picture a row shows for a node picture, with or without the overlay mark; an empty icon
    // for an index without a picture.
    const QIcon& PictureIcon(TNodePicture picture, bool overlayMarked) const;

private:
    // What a row last took from its node, so a structure change touches only what differs.
    struct TMirror {
        QTreeWidgetItem* Item = nullptr;
        std::string Caption;
        TNodePicture Picture = TNodePicture::Patient;
        bool Overlay = false;
        // The node's expanded state as last seen, and the row's as shown (the user's choice
        // until the node's state changes).
        bool NodeExpanded = false;
        bool Expanded = false;
        std::uint64_t Seen = 0;
    };

    void StructureChanging(TDicomTree&) override;
    void StructureChanged(TDicomTree&) override;
    void TreeNodeChanged(TDicomTree&, const TTreeNode& node) override;
    void SelectionChanged(TDicomTree&) override;

    // Brings the rows in step with the nodes after a structure change, and the current row with
    // the selection.
    void FollowStructure();
    // The same when the rows are behind the tree.
    void CatchUp();
    // The row showing a node as the rows stand, or null.
    QTreeWidgetItem* RowOf(const TTreeNode* node) const;
    // Brings the rows in step with the nodes, reusing each node's row.
    void Synchronize();
    void SynchronizeChildren(QTreeWidgetItem& parent, const std::vector<std::unique_ptr<TTreeNode>>& nodes,
                             std::vector<std::unique_ptr<QTreeWidgetItem>>& orphans,
                             std::vector<QTreeWidgetItem*>& placed);
    TMirror& MirrorOf(const TTreeNode& node);
    void Show(TMirror& mirror, const TTreeNode& node, bool fresh);
    // Gives a re-inserted row and its descendants back their expanded state.
    void RestoreExpanded(QTreeWidgetItem& item);
    // Makes the tree's selected node the current row, without telling the tree; reveal scrolls
    // to it and expands its parents.
    void FollowSelection(bool reveal);
    void UserSelected(QTreeWidgetItem* current);
    void UserExpanded(QTreeWidgetItem* item, bool expanded);

    TDicomTree& tree_;
    std::unique_ptr<QStyledItemDelegate> rowDelegate_;
    std::array<QIcon, 8> pictures_;
    std::array<QIcon, 8> overlaidPictures_;
    QIcon noPicture_;
    std::unordered_map<const TTreeNode*, TMirror> mirrors_;
    std::unordered_map<const QTreeWidgetItem*, const TTreeNode*> nodes_;
    std::uint64_t generation_ = 0;
    // Inside a structure change: nodes may be gone, so nothing looks at them.
    bool changing_ = false;
    // The widget moves its own rows or current row: not the user's doing.
    bool quiet_ = false;
    // Rows are held (TRowHold) and a structure change came meanwhile.
    int holds_ = 0;
    bool behind_ = false;
};

} // namespace tarvicon
