// tarvicon-cli params and lut: the parameter tree and the colour table without a window.

#include "cli/Commands.h"
#include "config/ColorMappings.h"
#include "config/ConfigDocuments.h"
#include "config/LevelLinks.h"
#include "config/Schema.h"
#include "util/Errors.h"
#include "util/Strings.h"

#include <cstdio>
#include <exception>

namespace tarvicon::cli {

namespace {

constexpr const char* kParamsUsage = "params [--config DOC] [--apply KIND:INDEX] [--set PATH=TEXT] [--fire "
                                     "PATH] [--get PATH] [--snapshot] ...";
constexpr const char* kLutUsage =
    "lut [--config DOC] [--apply KIND:INDEX] [--set PATH=TEXT] [--fire PATH] [--get PATH] [--snapshot] ... "
    "--entries LIST";

TConfigNode& Existing(TConfigNode& root, const std::string& path) {
    TConfigNode* node = root.FindNode(path);
    if (!node) RaiseError("Cannot find parameter " + path);
    return *node;
}

// "a,b-c,..." as the values it names.
std::vector<std::uint16_t> ParseEntries(const std::string& list) {
    std::vector<std::uint16_t> entries;
    std::string rest = list;
    while (!rest.empty()) {
        std::string item = SplitFirst(rest, ',');
        std::string last = item;
        std::string first = SplitFirst(last, '-');
        const auto from = ParseInteger(first);
        const auto to = last.empty() ? from : ParseInteger(last);
        if (!from || !to || *from < 0 || *to > 65535 || *from > *to) RaiseError("Invalid entry list " + list);
        for (long long v = *from; v <= *to; ++v) entries.push_back(static_cast<std::uint16_t>(v));
    }
    return entries;
}

int RunParameters(const std::vector<std::string>& args, bool lut) {
    const char* usage = lut ? kLutUsage : kParamsUsage;
    const auto root = CreateParameterTree();
    const TLevelLink link(NodeAt<TConfigNode>(*root, "detail/colormapping/level"));
    TConfigDocument document;
    std::string entries;
    try {
        for (std::size_t i = 0; i < args.size(); ++i) {
            const std::string& option = args[i];
            if (option == "--snapshot") {
                std::fputs(root->SaveToString().c_str(), stdout);
                continue;
            }
            if (i + 1 >= args.size()) return Usage(usage);
            const std::string value = args[++i];
            if (option == "--config") {
                LoadConfiguration(document, value, *root);
            } else if (option == "--apply") {
                std::string index = value;
                const std::string kind = SplitFirst(index, ':');
                const auto number = ParseInteger(index);
                if (!number) return Usage(usage);
                document.ApplyPreset(*root, kind, static_cast<int>(*number));
            } else if (option == "--set") {
                std::string text = value;
                const std::string path = SplitFirst(text, '=');
                Existing(*root, path).SetText(text);
            } else if (option == "--fire") {
                TConfigNode& node = Existing(*root, value);
                if (auto* event = dynamic_cast<TEventNode*>(&node))
                    event->Fire();
                else
                    node.NotifyListeners();
            } else if (option == "--get") {
                std::printf("%s=%s\n", value.c_str(), Existing(*root, value).GetText().c_str());
            } else if (option == "--entries" && lut) {
                entries = value;
            } else {
                return Usage(usage);
            }
        }
        if (lut) {
            if (entries.empty()) return Usage(usage);
            auto& mapping = NodeAt<TColorMapping>(*root, "detail/colormapping");
            mapping.SetGamma(root->FindNode("detail/gamma")->GetAsFloat());
            const auto table = std::make_unique<TColorTable>();
            mapping.FillTable(table.get());
            for (const std::uint16_t v : ParseEntries(entries))
                std::printf("%u=%08X\n", unsigned(v), (*table)[v]);
        }
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}

} // namespace

int ParamsCommand(const std::vector<std::string>& args) {
    return RunParameters(args, false);
}

int LutCommand(const std::vector<std::string>& args) {
    return RunParameters(args, true);
}

} // namespace tarvicon::cli
