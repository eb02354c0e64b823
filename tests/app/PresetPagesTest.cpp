// The shortcut bar's preset keys and the preset page's menus and parameter tree.

#include "app/PresetFrames.h"
#include "app/ShortcutFrames.h"
#include "config/ConfigDocuments.h"
#include "config/Schema.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMenu>
#include <QTextBrowser>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tarvicon {
namespace {

// Visible, enabled, caption and tag of every key, "F1" … "Alt+F12" in order.
struct TKeyState {
    bool Visible;
    bool Enabled;
    std::string Caption;
    int Tag;
};

std::vector<TKeyState> KeyStates(const TShortcutFrame& frame) {
    std::vector<TKeyState> states;
    for (const QAction* action : frame.Actions())
        states.push_back(
            {action->isVisible(), action->isEnabled(), action->text().toStdString(), action->data().toInt()});
    return states;
}

std::string KeyName(std::size_t i) {
    return (i < 12 ? "F" : "Alt+F") + std::to_string(i % 12 + 1);
}

// The texts of a bar's visible key buttons, left to right.
std::vector<std::string> ShownButtons(const QToolBar& bar) {
    std::vector<std::string> texts;
    for (QAction* action : bar.actions())
        if (auto* button = qobject_cast<QToolButton*>(bar.widgetForAction(action));
            button && action->isVisible() && !action->shortcut().isEmpty())
            texts.push_back(button->text().toStdString());
    return texts;
}

TEST(ShortcutBarTest, AKeyShowsTheKeysUpToItAndEnablesItAlone) {
    struct TCase {
        const char* Key;
        int Shown;    // keys visible from F1 on
        int Assigned; // position of the assigned key, -1 for none
    };
    const TCase cases[] = {
        {"F2", 2, 1},      {"F12", 12, 11}, {"Alt+F3", 15, 14}, {"alt+f3", 15, 14},
        {"Ctrl+A", 0, -1}, {"F13", 0, -1},  {"", 0, -1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Key);
        TShortcutFrame frame;
        frame.AddPresetKey(c.Key, "Brain", 7, "CT brain window");
        const std::vector<TKeyState> states = KeyStates(frame);
        for (std::size_t i = 0; i < states.size(); ++i) {
            SCOPED_TRACE(KeyName(i));
            const bool assigned = static_cast<int>(i) == c.Assigned;
            EXPECT_EQ(states[i].Visible, static_cast<int>(i) < c.Shown);
            EXPECT_EQ(states[i].Enabled, assigned);
            EXPECT_EQ(states[i].Caption, assigned ? "Brain" : KeyName(i));
            EXPECT_EQ(states[i].Tag, assigned ? 7 : -1);
            EXPECT_EQ(frame.Actions()[i]->toolTip().toStdString(),
                      assigned ? "CT brain window" : "Preset key " + KeyName(i));
        }
        EXPECT_EQ(frame.PresetOf(c.Key), c.Assigned >= 0 ? 7 : -1);
    }
}

TEST(ShortcutBarTest, TheDocumentsLaterPresetOwnsASharedKeyAndClearingResetsEveryKey) {
    TConfigDocument document;
    document.LoadXml(R"(<initialize><presets>
        <preset caption="Brain" hint="CT brain window" shortcut="F2"/>
        <preset caption="Lung" shortcut="F2"/>
        <preset caption="Hidden" shortcut="Ctrl+A"/>
        <preset caption="Bone" hint="CT bone window" shortcut="Alt+F3"/>
    </presets></initialize>)");
    TShortcutFrame frame;
    for (const TPresetShortcut& shortcut : document.PresetShortcuts({}))
        frame.AddPresetKey(shortcut.Key, shortcut.Caption, shortcut.Index, shortcut.Hint);
    EXPECT_EQ(frame.PresetOf("F2"), 1);
    EXPECT_EQ(frame.Actions()[1]->text(), "Lung");
    EXPECT_EQ(frame.PresetOf("Alt+F3"), 3);
    int enabled = 0;
    for (const QAction* action : frame.Actions()) enabled += action->isEnabled();
    EXPECT_EQ(enabled, 2);

    frame.ClearPresets();
    for (std::size_t i = 0; i < frame.Actions().size(); ++i) {
        const QAction& action = *frame.Actions()[i];
        EXPECT_EQ(action.data().toInt(), -1);
        EXPECT_FALSE(action.isEnabled());
        EXPECT_FALSE(action.isVisible());
        EXPECT_EQ(action.text().toStdString(), KeyName(i));
    }
    // The help key is no preset key: clearing leaves it.
    EXPECT_TRUE(frame.HelpAction().isEnabled());
    EXPECT_EQ(frame.HelpAction().data().toInt(), kHelpActionTag);
}

TEST(ShortcutBarTest, AltShowsTheAltBarWithThePresetsCaption) {
    TShortcutFrame frame;
    frame.AddPresetKey("Alt+F3", "Bone", 4, "CT bone window");
    auto* plain = frame.findChild<QToolBar*>("ToolBar1");
    auto* alt = frame.findChild<QToolBar*>("ToolBar3");
    ASSERT_TRUE(plain && alt);
    EXPECT_FALSE(frame.AltSetShown());
    EXPECT_TRUE(alt->isHidden());

    frame.ShowAltSet(true);
    EXPECT_TRUE(plain->isHidden());
    EXPECT_FALSE(alt->isHidden());
    EXPECT_EQ(ShownButtons(*alt), (std::vector<std::string>{"Alt+F1", "Alt+F2", "Bone"}));
    EXPECT_EQ(ShownButtons(*plain).size(), 12u);
    frame.ShowAltSet(true);
    EXPECT_TRUE(frame.AltSetShown());

    frame.ShowAltSet(false);
    EXPECT_FALSE(plain->isHidden());
    EXPECT_TRUE(alt->isHidden());
}

TEST(ShortcutBarTest, AnAssignedKeyReportsItsPresetAndADisabledOneNothing) {
    TShortcutFrame frame;
    std::vector<int> applied;
    frame.OnPreset = [&](int index) { applied.push_back(index); };
    frame.AddPresetKey("F3", "Soft", 5, "CT soft tissue window");
    frame.AddPresetKey("Alt+F2", "Hot", 9, "PET hot");

    auto* button = qobject_cast<QToolButton*>(
        frame.findChild<QToolBar*>("ToolBar1")->widgetForAction(frame.Actions()[2]));
    ASSERT_NE(button, nullptr);
    button->click();
    frame.Actions()[13]->trigger();
    frame.Actions()[0]->trigger();  // F1 shows but has no preset
    frame.Actions()[14]->trigger(); // Alt+F3 is hidden
    EXPECT_EQ(applied, (std::vector<int>{5, 9}));
}

TEST(ShortcutBarTest, ThePresetButtonListsTheAltKeysInThreeGroups) {
    TShortcutFrame frame;
    std::vector<std::string> items;
    for (const QAction* action : frame.AltMenu().actions())
        items.push_back(action->isSeparator() ? "|" : action->shortcut().toString().toStdString());
    EXPECT_EQ(items,
              (std::vector<std::string>{"Alt+F1", "Alt+F2", "Alt+F3", "Alt+F4", "|", "Alt+F5", "Alt+F6",
                                        "Alt+F7", "Alt+F8", "|", "Alt+F9", "Alt+F10", "Alt+F11", "Alt+F12"}));
    const auto* altButton = frame.findChild<QToolButton*>("ToolButton15");
    ASSERT_NE(altButton, nullptr);
    EXPECT_EQ(altButton->text(), "Preset");
    EXPECT_EQ(altButton->toolTip(), "Secondary function keys Alt+Fn");
    EXPECT_EQ(altButton->menu(), &frame.AltMenu());
}

TEST(ShortcutBarTest, TheMenuButtonShowsOnceItHasTheWindowsMenu) {
    TShortcutFrame frame;
    frame.show();
    auto* menuButton = frame.findChild<QToolButton*>("DropDownMenu");
    ASSERT_NE(menuButton, nullptr);
    QApplication::processEvents();
    EXPECT_FALSE(menuButton->isVisible());
    QMenu menu;
    frame.SetDropDownMenu(&menu);
    QApplication::processEvents();
    EXPECT_TRUE(menuButton->isVisible());
    EXPECT_EQ(menuButton->menu(), &menu);
}

TEST(ShortcutBarTest, HelpOpensTheProjectsReadme) {
    TShortcutFrame frame;
    QAction& help = frame.HelpAction();
    EXPECT_EQ(help.text(), "Help");
    EXPECT_EQ(help.toolTip(), "Help on application");
    EXPECT_EQ(help.shortcut(), QKeySequence(Qt::KeypadModifier | Qt::Key_Slash));
    EXPECT_EQ(help.data().toInt(), -747);
    EXPECT_TRUE(QFileInfo(frame.HelpAddress().toLocalFile()).isFile())
        << frame.HelpAddress().toString().toStdString();

    // The desktop's handler for files stands in for the browser.
    QTextBrowser browser;
    QDesktopServices::setUrlHandler("file", &browser, "setSource");
    frame.findChild<QToolButton*>("ToolButton16")->click();
    QDesktopServices::unsetUrlHandler("file");
    EXPECT_EQ(browser.source(), frame.HelpAddress());
}

TEST(PresetMenuTest, KindIsReadBackFromTheHintsFirstBracket) {
    const std::pair<const char*, const char*> cases[] = {
        {"Preset option          [coloring]", "coloring"},
        {"CT bone window          [preset]", "preset"},
        {"Lung [wide] window          [level]", "wide"},
        {"Odd [ level          [level]", "level          [level"},
        {"[  scaling  ]", "scaling"},
        {"No bracket", "No bracket"},
        {"", ""},
    };
    for (const auto& [hint, kind] : cases) EXPECT_EQ(KindFromHint(hint), kind) << hint;
}

TEST(PresetMenuTest, AnItemShowsItsHintAndAClickReportsKindAndIndex) {
    TConfigDocument document;
    document.LoadXml(R"(<initialize>
        <colorings><coloring caption="Grey" hint="Black to white"/><coloring/></colorings>
        <levels><level caption="Brain"/><level caption="Lung" hint="Lung [wide] window"/></levels>
    </initialize>)");
    TPresetFrame frame;
    std::vector<std::pair<std::string, int>> chosen;
    frame.OnSelectPreset = [&](const std::string& kind, int index) { chosen.emplace_back(kind, index); };
    for (const char* kind : {"coloring", "level"}) frame.FillMenu(kind, document.MenuEntries(kind));
    frame.FillMenu("level", document.MenuEntries("level")); // a second fill replaces the first

    const QList<QAction*> colorings = frame.Menu("coloring").actions();
    ASSERT_EQ(colorings.size(), 2);
    EXPECT_EQ(colorings[0]->text(), "Grey");
    EXPECT_EQ(colorings[0]->toolTip(), "Black to white          [coloring]");
    EXPECT_EQ(colorings[1]->text(), "");
    EXPECT_EQ(colorings[1]->toolTip(), "Preset option          [coloring]");
    const QList<QAction*> levels = frame.Menu("level").actions();
    ASSERT_EQ(levels.size(), 2);
    EXPECT_TRUE(frame.Menu("preset").isEmpty());

    colorings[1]->trigger();
    levels[0]->trigger();
    levels[1]->trigger(); // the bracket in the hint names a kind there is none of
    EXPECT_EQ(chosen, (std::vector<std::pair<std::string, int>>{{"coloring", 1}, {"level", 0}, {"wide", 1}}));
    EXPECT_THROW(frame.Menu("palette"), std::invalid_argument);
}

// The tree's lines, two blanks of indent per level.
std::vector<std::string> TreeLines(const QTreeWidget& tree) {
    std::vector<std::string> lines;
    const std::function<void(const QTreeWidgetItem&, int)> add = [&](const QTreeWidgetItem& item, int depth) {
        lines.push_back(std::string(static_cast<std::size_t>(depth) * 2, ' ') + item.text(0).toStdString());
        for (int i = 0; i < item.childCount(); ++i) add(*item.child(i), depth + 1);
    };
    for (int i = 0; i < tree.topLevelItemCount(); ++i) add(*tree.topLevelItem(i), 0);
    return lines;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(PresetTreeTest, ListsEveryParameterWithItsValueSortedAndRefreshesOnUpdate) {
    const auto root = CreateParameterTree();
    TPresetFrame frame;
    frame.SetRoot(root.get());
    const std::vector<std::string> lines = TreeLines(frame.Tree());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "preset");
    EXPECT_EQ(lines[1], "  detail");
    EXPECT_TRUE(Contains(lines, "    zoom = 0"));
    EXPECT_TRUE(Contains(lines, "    gamma = 1"));
    EXPECT_TRUE(Contains(lines, "      next")); // an event node: its name alone

    // Every node has its line, and each level reads in order.
    int nodes = 0;
    const std::function<void(const TConfigNode&)> count = [&](const TConfigNode& node) {
        ++nodes;
        for (int i = 0; i < node.ChildCount(); ++i) count(node.Child(i));
    };
    count(*root);
    EXPECT_EQ(static_cast<int>(lines.size()), nodes);
    const std::function<void(const QTreeWidgetItem&)> sorted = [&](const QTreeWidgetItem& item) {
        for (int i = 1; i < item.childCount(); ++i)
            EXPECT_LT(item.child(i - 1)->text(0), item.child(i)->text(0)) << item.text(0).toStdString();
        for (int i = 0; i < item.childCount(); ++i) sorted(*item.child(i));
    };
    sorted(*frame.Tree().topLevelItem(0));

    // A change shows after "Update", which opens the first line.
    root->FindNode("detail/zoom")->SetAsFloat(2);
    EXPECT_TRUE(Contains(TreeLines(frame.Tree()), "    zoom = 0"));
    frame.findChild<QAction*>("ToolButton5")->trigger();
    EXPECT_TRUE(Contains(TreeLines(frame.Tree()), "    zoom = 2"));
    EXPECT_TRUE(frame.Tree().topLevelItem(0)->isExpanded());
}

} // namespace
} // namespace tarvicon
