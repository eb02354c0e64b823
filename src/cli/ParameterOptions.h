#pragma once
// The parameter options that params, lut and render share, run on the core's parameter session
// in the order given: --config, --apply, --set, --fire, --get, --snapshot.

#include "catalogue/ParameterSessions.h"

#include <string>
#include <vector>

namespace tarvicon::cli {

enum class TTake { NotMine, Taken, BadUsage };

// Runs args[i] (and its value, advancing i) when it is a parameter option; errors raise.
TTake TakeParameterOption(TParameterSession& session, const std::vector<std::string>& args, std::size_t& i);

// The usage text of the shared options.
const char* ParameterOptionsUsage();

} // namespace tarvicon::cli
