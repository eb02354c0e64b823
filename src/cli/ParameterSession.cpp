#include "cli/ParameterSession.h"

#include "util/Errors.h"
#include "util/Strings.h"

#include <cstdio>

namespace tarvicon::cli {

TParameterSession::TParameterSession()
    : root_(CreateParameterTree()), link_(NodeAt<TConfigNode>(*root_, "detail/colormapping/level")) {}

const char* TParameterSession::Options() {
    return "[--config DOC] [--apply KIND:INDEX] [--set PATH=TEXT] [--fire PATH] [--get PATH] [--snapshot]";
}

TConfigNode& TParameterSession::Existing(const std::string& path) {
    TConfigNode* node = root_->FindNode(path);
    if (!node) RaiseError("Cannot find parameter " + path);
    return *node;
}

TParameterSession::TTake TParameterSession::Take(const std::vector<std::string>& args, std::size_t& i) {
    const std::string& option = args[i];
    if (option == "--snapshot") {
        std::fputs(root_->SaveToString().c_str(), stdout);
        return TTake::Taken;
    }
    if (option != "--config" && option != "--apply" && option != "--set" && option != "--fire" &&
        option != "--get")
        return TTake::NotMine;
    if (i + 1 >= args.size()) return TTake::BadUsage;
    const std::string value = args[++i];
    if (option == "--config") {
        LoadConfiguration(document_, value, *root_);
    } else if (option == "--apply") {
        std::string index = value;
        const std::string kind = SplitFirst(index, ':');
        const auto number = ParseInteger(index);
        if (!number) return TTake::BadUsage;
        document_.ApplyPreset(*root_, kind, static_cast<int>(*number));
    } else if (option == "--set") {
        std::string text = value;
        const std::string path = SplitFirst(text, '=');
        Existing(path).SetText(text);
    } else if (option == "--fire") {
        TConfigNode& node = Existing(value);
        if (auto* event = dynamic_cast<TEventNode*>(&node))
            event->Fire();
        else
            node.NotifyListeners();
    } else { // --get
        std::printf("%s=%s\n", value.c_str(), Existing(value).GetText().c_str());
    }
    return TTake::Taken;
}

} // namespace tarvicon::cli
