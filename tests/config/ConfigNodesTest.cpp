#include "config/ConfigNodes.h"

#include "config/Schema.h"
#include "config/XmlDocs.h"
#include "support/TestSupport.h"
#include "util/Errors.h"

#include <gtest/gtest.h>

namespace tarvicon {
namespace {

using test::ErrorOf;

// Records every listener call and every handler call of the nodes it watches.
class TRecorder : public INodeListener {
public:
    void NodeChanged(TConfigNode& node) override { calls.push_back("listen " + node.Path()); }
    void Handle(TConfigNode& node) {
        node.SetOnChange([this](TConfigNode& self, TConfigNode&, const std::string& path) {
            calls.push_back("handle " + self.Path() + " <" + path + ">");
        });
    }
    std::vector<std::string> calls;
};

class ParameterTree : public ::testing::Test {
protected:
    std::unique_ptr<TPresetNode> root = CreateParameterTree();
    TConfigNode& Node(std::string_view path) { return NodeAt<TConfigNode>(*root, path); }
};

TEST_F(ParameterTree, FindNodeAndPath) {
    const struct {
        const char* path;
        const char* found; // Path() of the result, or nullptr for none
    } cases[] = {
        {"", ""},
        {"detail/", "detail"},
        {"  detail  ", "detail"},
        {"detail /slice", nullptr},
        {"Detail", nullptr},
        {"detail//slice", nullptr},
        {"detail/colormapping/level/center", "detail/colormapping/level/center"},
        {"detail/ colormapping/level", "detail/colormapping/level"},
        {"detail/colormapping /level", nullptr},
    };
    for (const auto& c : cases) {
        const TConfigNode* node = root->FindNode(c.path);
        if (!c.found) {
            EXPECT_EQ(node, nullptr) << c.path;
        } else {
            ASSERT_NE(node, nullptr) << c.path;
            EXPECT_EQ(node->Path(), c.found);
        }
    }
    EXPECT_EQ(root->Name(), "preset");
    EXPECT_EQ(FindScalar(*root, "detail/colormapping"), nullptr);
    EXPECT_NE(FindScalar(*root, "detail/zoom"), nullptr);
    EXPECT_EQ(FindByKey(*root, 'C')->Path(), "detail/colormapping/level/center");
    EXPECT_EQ(FindByKey(*root, '3')->Path(), "detail/light3d");
    EXPECT_EQ(FindByKey(*root, 'Q'), nullptr);
}

TEST_F(ParameterTree, ChangeTravelsUpWithRelativePaths) {
    TRecorder recorder;
    for (const char* path : {"", "detail", "detail/colormapping", "detail/colormapping/level",
                             "detail/colormapping/level/center"})
        recorder.Handle(Node(path));
    Node("detail/colormapping/level/center").AddListener(recorder);
    Node("detail/colormapping/level").AddListener(recorder); // ancestors' listeners are not called

    Node("detail/colormapping/level/center").SetText("42");
    const std::vector<std::string> expected = {
        "listen detail/colormapping/level/center",   "handle detail/colormapping/level/center <>",
        "handle detail/colormapping/level <center>", "handle detail/colormapping <level/center>",
        "handle detail <colormapping/level/center>", "handle  <detail/colormapping/level/center>",
    };
    EXPECT_EQ(recorder.calls, expected);

    // The same value again: nobody hears of it.
    recorder.calls.clear();
    Node("detail/colormapping/level/center").SetText("42");
    EXPECT_TRUE(recorder.calls.empty());

    // A change below the scaling is reported as the scaling's own.
    recorder.Handle(Node("detail/colormapping/level/scaling/low"));
    Node("detail/colormapping/level/scaling/low").SetText("11");
    EXPECT_EQ(recorder.calls.back(), "handle  <detail/colormapping/level/scaling>");
}

TEST_F(ParameterTree, ForcedNodesNotifyEveryAssignment) {
    TRecorder recorder;
    auto& filter = NodeAt<TIntegerNode>(*root, "detail/series/filter");
    filter.AddListener(recorder);
    filter.SetValue(0);
    filter.SetAsInteger(0);
    filter.SetText("0");
    EXPECT_EQ(recorder.calls.size(), 3u);
}

TEST_F(ParameterTree, TextFormsAndRanges) {
    struct Case {
        const char* path;
        const char* text;
        const char* result; // nullptr: range error, value kept
    };
    const Case cases[] = {
        {"detail/colormapping/coloring/low/R", "256", nullptr},
        {"detail/colormapping/coloring/low/R", "-1", nullptr},
        {"detail/colormapping/coloring/low/R", "abc", "0"},
        {"detail/slice", "65535", "65535"},
        {"detail/slice", "65536", nullptr},
        {"detail/twin", "true", "0"},
        {"detail/twin", "7", "1"},
        {"detail/chroma-fusion", "2.5", "2"},
        {"detail/chroma-fusion", "3.5", "4"},
        {"detail/chroma-fusion", "x", "0"},
        {"detail/zoom", "0.25", "0.25"},
        {"detail/zoom", "1e20", "1E20"},
        {"detail/zoom", "-1.5E-5", "-1.5E-5"},
        {"detail/zoom", "nonsense", "0"},
        {"detail/alpha", "50%", "50"},
        {"detail/extra", "50%", "0"},
        {"detail/align", " 25% ", "-22.5"},
        {"detail/path", "RBF", "RBF"},
    };
    for (const Case& c : cases) {
        TConfigNode& node = Node(c.path);
        node.SetText("1");
        if (!c.result) {
            EXPECT_THROW(node.SetText(c.text), WRangeError) << c.path << " " << c.text;
            EXPECT_EQ(node.GetText(), "1");
        } else {
            node.SetText(c.text);
            EXPECT_EQ(node.GetText(), c.result) << c.path << " " << c.text;
        }
    }
}

// Digits beyond 32 (or 64) bits are still a number, and far outside every integer node's range.
TEST_F(ParameterTree, NumbersBeyondThirtyTwoBitsAreRangeErrors) {
    const char* const paths[] = {
        "detail/colormapping/coloring/low/R", // byte
        "detail/slice",                       // word
        "detail/thickness",                   // integer
    };
    const char* const texts[] = {"2147483648",  "4294967296",  "4294967551",   "99999999999",
                                 "-4294967296", "+4294967296", " 4294967296 ", "99999999999999999999"};
    for (const char* path : paths)
        for (const char* text : texts) {
            TConfigNode& node = Node(path);
            node.SetText("7");
            EXPECT_THROW(node.SetText(text), WRangeError) << path << " '" << text << "'";
            EXPECT_EQ(node.GetText(), "7") << path << " '" << text << "'";
        }
    // Not numbers at all still give 0.
    for (const char* path : paths)
        for (const char* text : {"4294967296x", "--4294967296", "42 94967296"}) {
            TConfigNode& node = Node(path);
            node.SetText("7");
            node.SetText(text);
            EXPECT_EQ(node.GetText(), "0") << path << " '" << text << "'";
        }
}

TEST_F(ParameterTree, IntegerAssignmentWithRange) {
    const struct {
        const char* path;
        int value;
        const char* result;
    } cases[] = {
        {"detail/angle", 90, "90"},
        {"detail/zoom", 21, "20"},
        {"detail/angle", 181, "-179"},
        {"detail/angle", -181, "179"},
        {"detail/zoom", 30, "20"},
        {"detail/zoom", -30, "-20"},
        {"detail/zoom", 5, "5"},
        // integer nodes store any value: the range is the editors' business
        {"detail/animate", 2, "2"},
        {"detail/thickness", 0, "0"},
        {"detail/thickness", 300, "300"},
    };
    for (const auto& c : cases) {
        Node(c.path).SetAsInteger(c.value);
        EXPECT_EQ(Node(c.path).GetText(), c.result) << c.path << " " << c.value;
    }
    auto& alpha = NodeAt<TScalarNode>(*root, "detail/alpha");
    alpha.SetPercent(25);
    EXPECT_EQ(alpha.GetText(), "25");
    EXPECT_DOUBLE_EQ(NodeAt<TScalarNode>(*root, "detail/extra").GetPercent(), 50);
}

TEST_F(ParameterTree, Locking) {
    for (const char* ending : {"end", "force", "cancel"}) {
        SCOPED_TRACE(ending);
        TRecorder recorder;
        recorder.Handle(*root);
        root->AddListener(recorder);
        Node("detail/slices/prev").AddListener(recorder);
        root->BeginUpdate();
        Node("detail/zoom").SetText("3");
        Node("detail/gamma").SetText("2");
        Node("detail/colormapping/level/low").SetText("7");
        NodeAt<TEventNode>(*root, "detail/slices/prev").Fire(); // events fire while locked
        EXPECT_EQ(recorder.calls, std::vector<std::string>{"listen detail/slices/prev"});
        EXPECT_TRUE(Node("detail/zoom").ChangePending());
        recorder.calls.clear();
        if (std::string(ending) == "end")
            root->EndUpdate(false);
        else if (std::string(ending) == "force")
            root->EndUpdate(true);
        else
            root->CancelUpdate();
        if (std::string(ending) == "force")
            EXPECT_EQ(recorder.calls, (std::vector<std::string>{"listen ", "handle  <>"}));
        else
            EXPECT_TRUE(recorder.calls.empty());
        EXPECT_FALSE(root->ChangePending());
        root->SetOnChange({});
        // reset for the next round
        root = CreateParameterTree();
    }
}

TEST_F(ParameterTree, ListenersLeaveWhenDestroyedOrRemoved) {
    auto& zoom = Node("detail/zoom");
    {
        TRecorder gone;
        zoom.AddListener(gone);
        zoom.AddListener(gone);
        EXPECT_EQ(zoom.ListenerCount(), 2);
        zoom.RemoveListener(gone);
        EXPECT_EQ(zoom.ListenerCount(), 1);
    }
    EXPECT_EQ(zoom.ListenerCount(), 0);
    zoom.SetText("3"); // nobody left to call

    // A listener that removes another during a round: the removed one is not called.
    struct TRemover : INodeListener {
        TConfigNode* node = nullptr;
        INodeListener* other = nullptr;
        void NodeChanged(TConfigNode&) override { node->RemoveListener(*other); }
    } remover;
    TRecorder second;
    remover.node = &zoom;
    remover.other = &second;
    zoom.AddListener(remover);
    zoom.AddListener(second);
    zoom.SetText("4");
    EXPECT_TRUE(second.calls.empty());

    // A listener outliving its node is harmless.
    TRecorder survivor;
    {
        auto other = CreateParameterTree();
        other->AddListener(survivor);
    }
}

TEST_F(ParameterTree, SavedTreeLoadsBackWithoutAnyNotification) {
    const std::string text = root->SaveToString();
    EXPECT_EQ(text.find("<series"), std::string::npos);
    EXPECT_EQ(text.find("<slices"), std::string::npos);
    EXPECT_EQ(text.find("<screensplit"), std::string::npos);
    EXPECT_EQ(text.find("<overlay"), std::string::npos);
    EXPECT_EQ(text.find(" id="), std::string::npos);
    EXPECT_NE(text.find("<background R=\"0\" G=\"0\" B=\"5\" A=\"255\" />"), std::string::npos);
    EXPECT_LT(text.find("<zoom"), text.find("<gamma"));

    auto fresh = CreateParameterTree();
    int handled = 0;
    fresh->SetOnChange([&](TConfigNode&, TConfigNode&, const std::string&) { ++handled; });
    TRecorder recorder;
    for (const char* path : {"detail/zoom", "detail/colormapping/level/low", "detail/colormapping/coloring"})
        fresh->FindNode(path)->AddListener(recorder);
    fresh->LoadFromString(text);
    EXPECT_EQ(handled, 0);
    EXPECT_TRUE(recorder.calls.empty());
    EXPECT_EQ(fresh->SaveToString(), text);
}

TEST_F(ParameterTree, LoadingValuesEventsAndCaptions) {
    TRecorder recorder;
    recorder.Handle(*root);
    auto& paste = Node("detail/paste");
    paste.AddListener(recorder);
    Node("detail/zoom").AddListener(recorder);
    Node("detail/zoom").SetText("5");
    recorder.calls.clear();

    root->LoadFromString(R"(<configuration><preset><detail>
        <zoom/><paste>go</paste><gamma>1</gamma>
        <alpha caption="Opacity">0</alpha></detail></preset></configuration>)");
    EXPECT_EQ(Node("detail/zoom").GetText(), "0");
    EXPECT_EQ(Node("detail/alpha").Caption(), "Opacity");
    const std::vector<std::string> expected = {"listen detail/zoom", "handle  <detail/zoom>",
                                               "listen detail/paste", "handle  <detail/alpha/@caption>"};
    EXPECT_EQ(recorder.calls, expected);
}

TEST_F(ParameterTree, ReferencesAndTheirFailures) {
    const char* document = R"(<config>
        <levels><level id="wide"><low>10</low><high>90</high><phase>5</phase></level></levels>
        <configuration><preset><detail><zoom>4</zoom><colormapping>
          <level id="wide"><high>70</high></level></colormapping></detail></preset></configuration>
        </config>)";
    TXmlDocument xml;
    ASSERT_TRUE(xml.LoadXml(document));
    root->LoadFromXml(false, xml.Root(), SelectSingle(xml.Root(), "configuration/preset").node(), {});
    EXPECT_EQ(Node("detail/colormapping/level/low").GetText(), "10");
    EXPECT_EQ(Node("detail/colormapping/level/high").GetText(), "70"); // own content wins
    EXPECT_EQ(Node("detail/colormapping/level/phase").GetText(), "5");

    const auto missing = CreateParameterTree();
    EXPECT_EQ(ErrorOf([&] {
                  missing->LoadFromString(R"(<configuration><preset><detail><zoom>4</zoom><colormapping>
                      <level id="none"/></colormapping></detail></preset></configuration>)");
              }),
              "Cannot find configuration node level.none");
    EXPECT_EQ(missing->FindNode("detail/zoom")->GetText(), "4"); // what loaded before stays

    const std::string broken =
        ErrorOf([&] { root->LoadFromString("<configuration>\n  <preset></configuration>"); });
    EXPECT_EQ(broken.rfind("Start-end tags mismatch\r\n(2/", 0), 0u) << broken;
    EXPECT_EQ(Node("detail/zoom").GetText(), "4");
}

} // namespace
} // namespace tarvicon
