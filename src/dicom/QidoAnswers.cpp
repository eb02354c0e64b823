#include "dicom/QidoAnswers.h"

#include "util/Errors.h"
#include "util/Strings.h"

#include <nlohmann/json.hpp>

namespace tarvicon {

namespace {

using nlohmann::json;

std::string ValueText(const json& value) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_number_integer()) return std::to_string(value.get<std::int64_t>());
    if (value.is_number()) return FormatReal(value.get<double>());
    if (value.is_object()) { // a person name
        const auto alphabetic = value.find("Alphabetic");
        if (alphabetic != value.end() && alphabetic->is_string()) return alphabetic->get<std::string>();
    }
    return {};
}

} // namespace

std::vector<TQidoDataset> ReadQidoAnswer(std::string_view text) {
    if (Trim(text).empty()) return {};
    const json answer = json::parse(text.begin(), text.end(), nullptr, false);
    if (answer.is_discarded()) RaiseError("the answer is not JSON");
    if (!answer.is_array()) RaiseError("the answer is not a list of datasets");
    std::vector<TQidoDataset> datasets;
    datasets.reserve(answer.size());
    for (const json& item : answer) {
        if (!item.is_object()) RaiseError("the answer is not a list of datasets");
        TQidoDataset dataset;
        for (const auto& [tag, attribute] : item.items()) {
            if (!attribute.is_object()) continue;
            const auto values = attribute.find("Value");
            if (values == attribute.end() || !values->is_array() || values->empty()) continue;
            std::string joined;
            for (std::size_t i = 0; i < values->size(); ++i)
                joined += (i == 0 ? "" : "\\") + ValueText((*values)[i]);
            dataset[UpperCase(tag)] = std::move(joined);
        }
        datasets.push_back(std::move(dataset));
    }
    return datasets;
}

std::string QidoValue(const TQidoDataset& dataset, const std::string& tag) {
    const auto found = dataset.find(tag);
    return found == dataset.end() ? std::string() : found->second;
}

} // namespace tarvicon
