#include "catalogue/ParameterSessions.h"

#include <gtest/gtest.h>
#include <string>

namespace tarvicon {
namespace {

// The configuration document the viewer ships beside its programs.
const std::string kShipped = std::string(TARVICON_SOURCE) + "/config/tarvicon.cfg";

TEST(ShippedDocument, EveryTableHas256EntriesAndEveryEntryApplies) {
    TParameterSession session;
    ASSERT_NO_THROW(session.LoadConfiguration(kShipped));
    for (const pugi::xml_node table : session.Document().Root().child("colortables").children("colortable")) {
        const auto values = table.children("value");
        EXPECT_EQ(std::distance(values.begin(), values.end()), 256) << table.attribute("id").value();
    }
    for (const char* kind : {"coloring", "scaling", "level", "preset"}) {
        const auto entries = session.Document().MenuEntries(kind);
        EXPECT_FALSE(entries.empty()) << kind;
        for (const TMenuEntry& entry : entries)
            EXPECT_NO_THROW(session.ApplyPreset(kind, entry.Index)) << kind << " " << entry.Caption;
    }
}

// A coloring without a table keeps whatever colours the one before left, so each must name all
// of its own: choosing one from the menu gives the same picture whatever was chosen before.
TEST(ShippedDocument, AColoringLooksTheSameWhateverCameBefore) {
    TParameterSession probe;
    probe.LoadConfiguration(kShipped);
    const int count = static_cast<int>(probe.Document().MenuEntries("coloring").size());
    for (int second = 0; second < count; ++second) {
        TParameterSession alone;
        alone.LoadConfiguration(kShipped);
        alone.ApplyPreset("coloring", second);
        const std::string expected = alone.CopyParameters({});
        for (int first = 0; first < count; ++first) {
            TParameterSession both;
            both.LoadConfiguration(kShipped);
            both.ApplyPreset("coloring", first);
            both.ApplyPreset("coloring", second);
            EXPECT_EQ(both.CopyParameters({}), expected) << "coloring " << second << " after " << first;
        }
    }
}

} // namespace
} // namespace tarvicon
