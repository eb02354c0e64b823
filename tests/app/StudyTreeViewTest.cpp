#include "app/StudyTreeViews.h"
#include "support/StudyFiles.h"
#include "support/TestSupport.h"
#include "util/TraceFiles.h"

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QTreeWidgetItemIterator>
#include <functional>
#include <gtest/gtest.h>
#include <set>

namespace tarvicon {
namespace {

using test::TImage;

// Counts the selection events the tree sends.
struct TSelectionCounter : ITreeListener {
    int Changing = 0;
    void SelectionChanging(TDicomTree&) override { ++Changing; }
};

class StudyTreeView : public ::testing::Test {
protected:
    StudyTreeView() { tree.OperationPause = 0; }

    // Two series of one patient's study and a broken file; the patient is named by its ID.
    void WriteStudy(const std::string& patient) {
        TImage head;
        head.Patient = patient;
        test::WriteSeries(folder.Path(), patient + "-head", 3, head);
        TImage neck = head;
        neck.Series = "1.2.3.2";
        neck.Description = "Neck";
        neck.Modality = "PT";
        test::WriteSeries(folder.Path(), patient + "-neck", 2, neck);
    }
    void Load() {
        tree.AddFolder(folder.Path().string());
        ASSERT_EQ(LoadToEnd(tree), "");
        std::filesystem::remove_all(folder.Path());
        std::filesystem::create_directory(folder.Path());
    }
    // The node of a series by its caption, among every patient's studies.
    const TTreeNode* Series(const std::string& caption) const {
        for (const auto& patient : tree.Roots())
            for (const auto& study : patient->Children())
                for (const auto& series : study->Children())
                    if (series->Caption() == caption) return series.get();
        return nullptr;
    }
    // Patient Bravo's study as a user leaves it: its Neck series the current row, the patient's
    // row collapsed (a choice that must outlive the rows' moves).
    struct TBravo {
        const TTreeNode* Patient;
        QTreeWidgetItem* PatientRow;
        const TTreeNode* Neck;
    };
    TBravo LoadBravo() {
        WriteStudy("Bravo");
        Load();
        const TBravo bravo{tree.Roots().at(0).get(), view.ItemOfNode(tree.Roots().at(0).get()),
                           Series("Neck (PT[2])")};
        view.setCurrentItem(view.ItemOfNode(bravo.Neck));
        bravo.PatientRow->setExpanded(false);
        return bravo;
    }
    std::vector<std::string> TopCaptions() const {
        std::vector<std::string> captions;
        for (int i = 0; i < view.topLevelItemCount(); ++i)
            captions.push_back(view.topLevelItem(i)->text(0).toStdString());
        return captions;
    }
    // Every row shows its node: caption, place, picture and mark; no row is left over.
    void ExpectMirrors() {
        int nodes = 0;
        const std::function<void(const TTreeNode&, QTreeWidgetItem*, int)> expect =
            [&](const TTreeNode& node, QTreeWidgetItem* parent, int index) {
                ++nodes;
                QTreeWidgetItem* item = view.ItemOfNode(&node);
                ASSERT_NE(item, nullptr) << node.Caption();
                EXPECT_EQ(view.NodeOfItem(item), &node);
                // A read error's caption runs over lines; its row shows them on one.
                EXPECT_EQ(item->text(0).toStdString(), OneLine(node.Caption()));
                EXPECT_EQ(item->parent(), parent) << node.Caption();
                EXPECT_EQ(parent ? parent->indexOfChild(item) : view.indexOfTopLevelItem(item), index);
                EXPECT_EQ(item->icon(0).cacheKey(),
                          view.PictureIcon(node.Picture(), node.OverlayMarked()).cacheKey())
                    << node.Caption();
                for (std::size_t i = 0; i < node.Children().size(); ++i)
                    expect(*node.Children()[i], item, int(i));
            };
        for (std::size_t i = 0; i < tree.Roots().size(); ++i) expect(*tree.Roots()[i], nullptr, int(i));
        int items = 0;
        for (QTreeWidgetItemIterator it(&view); *it; ++it) ++items;
        EXPECT_EQ(items, nodes);
    }

    test::TTempDir folder;
    TDicomTree tree;
    TDicomTreeView view{tree};
};

TEST_F(StudyTreeView, PicturesAreDrawnAndTellEachOtherApart) {
    std::set<QByteArray> drawings;
    for (const TNodePicture picture : {TNodePicture::Patient, TNodePicture::Study, TNodePicture::Series,
                                       TNodePicture::Image, TNodePicture::Error})
        for (const bool overlay : {false, true}) {
            const QImage image = view.PictureIcon(picture, overlay).pixmap(16, 16).toImage();
            ASSERT_FALSE(image.isNull());
            drawings.insert(
                QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes()));
        }
    EXPECT_EQ(drawings.size(), 10u);
    EXPECT_EQ(view.toolTip(), "Study structure");
}

TEST_F(StudyTreeView, MirrorsTheNodesWithPicturesAndTheOverlayMark) {
    WriteStudy("P1");
    test::WriteFile(folder.Path() / "broken", "not a DICOM file");
    Load();
    ExpectMirrors();
    const TTreeNode* head = Series("Head (CT[3])");
    const TTreeNode* neck = Series("Neck (PT[2])");
    ASSERT_TRUE(head && neck);
    EXPECT_TRUE(view.ItemOfNode(head->Parent())->isExpanded());
    EXPECT_TRUE(view.ItemOfNode(head->Parent()->Parent())->isExpanded());
    bool error = false;
    for (QTreeWidgetItemIterator it(&view); *it; ++it)
        error |=
            view.NodeOfItem(*it)->Picture() == TNodePicture::Error || (*it)->text(0).contains(" Error: ");
    EXPECT_TRUE(error);

    const QIcon& marked = view.PictureIcon(TNodePicture::Series, true);
    tree.SelectOverlay(neck->Object());
    EXPECT_EQ(view.ItemOfNode(neck)->icon(0).cacheKey(), marked.cacheKey());
    tree.SelectOverlay(head->Object());
    EXPECT_EQ(view.ItemOfNode(head)->icon(0).cacheKey(), marked.cacheKey());
    EXPECT_NE(view.ItemOfNode(neck)->icon(0).cacheKey(), marked.cacheKey());
    ExpectMirrors();
}

TEST_F(StudyTreeView, SelectionRunsBothWaysWithoutEcho) {
    WriteStudy("P1");
    Load();
    const TTreeNode* head = Series("Head (CT[3])");
    const TTreeNode* neck = Series("Neck (PT[2])");
    ASSERT_TRUE(head && neck);
    ASSERT_EQ(tree.Selected(), head); // the end of the load selects the first series
    EXPECT_EQ(view.currentItem(), view.ItemOfNode(head));

    TSelectionCounter counter;
    TScopedTreeListener listening(tree, counter);
    view.setCurrentItem(view.ItemOfNode(neck));
    EXPECT_EQ(tree.Selected(), neck);
    tree.SelectPrevious();
    EXPECT_EQ(view.currentItem(), view.ItemOfNode(head));
    EXPECT_TRUE(view.currentItem()->isSelected());
    tree.SelectBySerial(-1);
    EXPECT_EQ(view.currentItem(), nullptr);
    EXPECT_EQ(tree.Selected(), nullptr);
    EXPECT_EQ(counter.Changing, 3);
}

TEST_F(StudyTreeView, ASecondRunKeepsTheRowsAndTheSelectionAndClearEmptiesThem) {
    const auto [patient, patientRow, neck] = LoadBravo();

    // The new patient sorts first: the rows move, which must not reach the tree as a selection.
    WriteStudy("alpha");
    Load();
    ASSERT_EQ(TopCaptions(), (std::vector<std::string>{"Doe^alpha alpha", "Doe^Bravo Bravo"}));
    ExpectMirrors();
    EXPECT_EQ(view.ItemOfNode(patient), patientRow);
    EXPECT_FALSE(patientRow->isExpanded());
    EXPECT_TRUE(view.topLevelItem(0)->isExpanded());
    EXPECT_EQ(tree.Selected(), neck);
    EXPECT_EQ(view.currentItem(), view.ItemOfNode(neck));

    tree.Clear();
    EXPECT_EQ(view.topLevelItemCount(), 0);
    EXPECT_EQ(view.currentItem(), nullptr);
    EXPECT_EQ(view.ItemOfNode(patient), nullptr);
}

TEST_F(StudyTreeView, HeldRowsFollowTheTreeOnceAtTheEndOrWhenLookedAt) {
    const auto [patient, patientRow, neck] = LoadBravo();

    {
        const TDicomTreeView::TRowHold rows(view);
        const TDicomTreeView::TRowHold nested(view);
        WriteStudy("alpha");
        Load();
        EXPECT_EQ(TopCaptions(), (std::vector<std::string>{"Doe^Bravo Bravo"}));
    }
    ASSERT_EQ(TopCaptions(), (std::vector<std::string>{"Doe^alpha alpha", "Doe^Bravo Bravo"}));
    ExpectMirrors();
    EXPECT_EQ(view.ItemOfNode(patient), patientRow);
    EXPECT_FALSE(patientRow->isExpanded());
    EXPECT_EQ(view.currentItem(), view.ItemOfNode(neck));

    const TDicomTreeView::TRowHold rows(view);
    tree.Clear();
    ASSERT_EQ(view.topLevelItemCount(), 2);    // behind: the rows of nodes that are gone
    view.setCurrentItem(view.topLevelItem(1)); // a click there reaches no node
    EXPECT_EQ(tree.Selected(), nullptr);
    EXPECT_EQ(view.ItemOfNode(patient), nullptr); // a look catches up
    EXPECT_EQ(view.topLevelItemCount(), 0);
}

TEST_F(StudyTreeView, CaptionsSortByTheLocalesCollation) {
    // Byte order puts capitals first: "Bravo", "alpha", "charlie".
    for (const char* patient : {"charlie", "Bravo", "alpha"}) {
        TImage image;
        image.Patient = patient;
        image.Study = std::string("1.2.") + patient;
        test::WriteSeries(folder.Path(), patient, 1, image);
    }
    Load();
    EXPECT_EQ(TopCaptions(),
              (std::vector<std::string>{"Doe^alpha alpha", "Doe^Bravo Bravo", "Doe^charlie charlie"}));
    ExpectMirrors();
}

TEST_F(StudyTreeView, TheSelectedRowIsGreyWithAndWithoutFocus) {
    WriteStudy("P1");
    Load();
    view.resize(300, 200);
    view.show();
    QApplication::processEvents();
    const QTreeWidgetItem* selected = view.currentItem();
    ASSERT_NE(selected, nullptr);
    for (const bool focus : {false, true}) {
        if (focus) {
            view.activateWindow();
            view.setFocus();
        } else {
            view.clearFocus();
        }
        QApplication::processEvents();
        ASSERT_EQ(view.hasFocus(), focus);
        const QRect row = view.visualItemRect(selected);
        const QImage picture = view.viewport()->grab().toImage();
        EXPECT_EQ(picture.pixelColor(view.viewport()->width() - 3, row.center().y()), QColor(128, 128, 128))
            << "focus " << focus;
    }
    view.hide();
}

} // namespace
} // namespace tarvicon
