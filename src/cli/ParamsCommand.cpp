// tarvicon-cli params and lut: the parameter tree and the colour table without a window.

#include "cli/Commands.h"
#include "cli/ParameterOptions.h"
#include "config/ColorMappings.h"
#include "util/Errors.h"
#include "util/Strings.h"

#include <cstdio>
#include <exception>

namespace tarvicon::cli {

namespace {

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
    const std::string usage = lut ? std::string("lut ") + ParameterOptionsUsage() + "... --entries LIST"
                                  : std::string("params ") + ParameterOptionsUsage() + "...";
    try {
        TParameterSession session;
        std::string entries;
        for (std::size_t i = 0; i < args.size(); ++i) {
            const auto taken = TakeParameterOption(session, args, i);
            if (taken == TTake::Taken) continue;
            if (taken == TTake::NotMine && lut && args[i] == "--entries" && i + 1 < args.size()) {
                entries = args[++i];
                continue;
            }
            return Usage(usage);
        }
        if (lut) {
            if (entries.empty()) return Usage(usage);
            TColorMapping& mapping = session.DetailMapping();
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
