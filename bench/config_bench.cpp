// Colour table fills: a window/level drag refills the whole table on every step.

#include "config/ColorMappings.h"
#include "config/Schema.h"

#include <benchmark/benchmark.h>
#include <memory>

namespace {

using namespace tarvicon;

void FillTable(benchmark::State& state, const char* phase, const char* mode) {
    auto root = CreateParameterTree();
    root->FindNode("detail/colormapping/level/low")->SetText("20");
    root->FindNode("detail/colormapping/level/high")->SetText("80");
    root->FindNode("detail/colormapping/level/phase")->SetText(phase);
    root->FindNode("detail/colormapping/coloring/phasemode")->SetText(mode);
    root->FindNode("detail/gamma")->SetText("1.2");
    auto& mapping = NodeAt<TColorMapping>(*root, "detail/colormapping");
    mapping.SetGamma(1.2);
    const auto table = std::make_unique<TColorTable>();
    for (auto _ : state) {
        mapping.FillTable(table.get());
        benchmark::DoNotOptimize(table->data());
    }
    state.SetItemsProcessed(state.iterations() * 65536);
}

BENCHMARK_CAPTURE(FillTable, plain_ramp, "0", "both")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(FillTable, phase_both, "50", "both")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(FillTable, phase_tint, "50", "tint")->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
