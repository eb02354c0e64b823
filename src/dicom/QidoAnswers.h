#pragma once
// Reading the answer of a DICOMweb search (QIDO-RS): a JSON array of datasets, each an object of
// attributes keyed by their tag.

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tarvicon {

// One dataset: tag "GGGGEEEE" (upper-case hex) -> its values as text, several joined with "\";
// a person name is its alphabetic form; an attribute without a value is absent.
using TQidoDataset = std::map<std::string, std::string>;

// The datasets of a search answer; an empty answer is an empty list. Raises a WException that
// says what is wrong with an answer that is not JSON or not a list of datasets.
std::vector<TQidoDataset> ReadQidoAnswer(std::string_view text);

// The dataset's value of the tag, empty when it has none.
std::string QidoValue(const TQidoDataset& dataset, const std::string& tag);

} // namespace tarvicon
