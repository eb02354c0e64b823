#pragma once
// The parameter options that params, lut and render share: a parameter tree with the detail
// view's level rule, the configuration document, and the options that drive them in the order
// given (--config, --apply, --set, --fire, --get, --snapshot).

#include "config/ConfigDocuments.h"
#include "config/LevelLinks.h"
#include "config/Schema.h"

#include <memory>
#include <string>
#include <vector>

namespace tarvicon::cli {

class TParameterSession {
public:
    TParameterSession();

    enum class TTake { NotMine, Taken, BadUsage };
    // Runs args[i] (and its value, advancing i) when it is a parameter option; errors raise.
    TTake Take(const std::vector<std::string>& args, std::size_t& i);

    TPresetNode& Root() { return *root_; }
    TConfigDocument& Document() { return document_; }
    // The node at path, or "Cannot find parameter PATH".
    TConfigNode& Existing(const std::string& path);

    // The usage text of the shared options.
    static const char* Options();

private:
    std::unique_ptr<TPresetNode> root_;
    TLevelLink link_;
    TConfigDocument document_;
};

} // namespace tarvicon::cli
