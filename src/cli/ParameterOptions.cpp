#include "cli/ParameterOptions.h"

#include "util/Strings.h"

#include <cstdio>

namespace tarvicon::cli {

const char* ParameterOptionsUsage() {
    return "[--config DOC] [--apply KIND:INDEX] [--set PATH=TEXT] [--fire PATH] [--get PATH] [--snapshot]";
}

TTake TakeParameterOption(TParameterSession& session, const std::vector<std::string>& args, std::size_t& i) {
    const std::string& option = args[i];
    if (option == "--snapshot") {
        std::fputs(session.Root().SaveToString().c_str(), stdout);
        return TTake::Taken;
    }
    if (option != "--config" && option != "--apply" && option != "--set" && option != "--fire" &&
        option != "--get")
        return TTake::NotMine;
    if (i + 1 >= args.size()) return TTake::BadUsage;
    const std::string value = args[++i];
    if (option == "--config") {
        session.LoadConfiguration(value);
    } else if (option == "--apply") {
        std::string index = value;
        const std::string kind = SplitFirst(index, ':');
        const auto number = ParseInteger(index);
        if (!number || *number < INT32_MIN || *number > INT32_MAX) return TTake::BadUsage;
        session.ApplyPreset(kind, static_cast<int>(*number));
    } else if (option == "--set") {
        std::string text = value;
        const std::string path = SplitFirst(text, '=');
        session.Existing(path).SetText(text);
    } else if (option == "--fire") {
        session.Existing(value).NotifyListeners();
    } else { // --get
        std::printf("%s=%s\n", value.c_str(), session.Existing(value).GetText().c_str());
    }
    return TTake::Taken;
}

} // namespace tarvicon::cli
