#include "config/XmlDocs.h"

#include "dicom/WebStreams.h"
#include "util/Errors.h"
#include "util/Files.h"
#include "util/Strings.h"

#include <filesystem>
#include <sstream>

namespace tarvicon {

namespace {

struct TStringWriter : pugi::xml_writer {
    std::string text;
    void write(const void* data, std::size_t size) override {
        text.append(static_cast<const char*>(data), size);
    }
};

void AppendText(pugi::xml_node node, std::string& out) {
    for (pugi::xml_node child : node.children()) {
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
            out += child.value();
        else if (child.type() == pugi::node_element)
            AppendText(child, out);
    }
}

} // namespace

std::string TXmlParseError::Message() const {
    return Reason + "\r\n" + Source + "(" + std::to_string(Line) + "/" + std::to_string(Position) + ")";
}

bool TXmlDocument::Load(const std::string& source) {
    std::string text;
    try {
        if (IsHttpAddress(source)) {
            text = std::string(TWebStream(source).Text());
        } else {
            std::error_code error;
            if (!std::filesystem::is_regular_file(source, error)) {
                error_ = {static_cast<int>(pugi::status_file_not_found), "File was not found", source, 0, 0};
                return false;
            }
            text = ReadWholeFile(source);
        }
    } catch (const std::exception& failure) {
        error_ = {static_cast<int>(pugi::status_io_error), failure.what(), source, 0, 0};
        return false;
    }
    return Parse(text, source);
}

bool TXmlDocument::LoadXml(std::string_view text) {
    return Parse(text, "");
}

bool TXmlDocument::Parse(std::string_view text, const std::string& source) {
    const pugi::xml_parse_result result = document_.load_buffer(text.data(), text.size());
    if (result) {
        error_ = {};
        return true;
    }
    error_ = {static_cast<int>(result.status), result.description(), source, 1, 1};
    const std::size_t offset = std::min<std::size_t>(
        static_cast<std::size_t>(std::max<std::ptrdiff_t>(result.offset, 0)), text.size());
    for (std::size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n') {
            ++error_.Line;
            error_.Position = 1;
        } else {
            ++error_.Position;
        }
    }
    return false;
}

std::string TXmlDocument::Xml() const {
    TStringWriter writer;
    document_.save(writer, "  ", pugi::format_default | pugi::format_no_declaration);
    return writer.text;
}

std::string TranslatePattern(std::string_view pattern) {
    std::string out;
    out.reserve(pattern.size() + 4);
    char quote = 0;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (quote) {
            if (c == quote) quote = 0;
            out += c;
            continue;
        }
        if (c == '"' || c == '\'') quote = c;
        if (c != '[') {
            out += c;
            continue;
        }
        std::size_t end = i + 1;
        while (end < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[end]))) ++end;
        if (end > i + 1 && end < pattern.size() && pattern[end] == ']') {
            out += '[';
            out += std::to_string(std::stoull(std::string(pattern.substr(i + 1, end - i - 1))) + 1);
            i = end - 1;
        } else {
            out += c;
        }
    }
    return out;
}

pugi::xpath_node SelectSingle(pugi::xml_node context, std::string_view pattern) {
    if (!context) return {};
    try {
        return context.select_node(TranslatePattern(pattern).c_str());
    } catch (const pugi::xpath_exception& error) {
        RaiseError(std::string("Invalid selection pattern ") + std::string(pattern) + ": " + error.what());
    }
}

pugi::xpath_node_set SelectList(pugi::xml_node context, std::string_view pattern) {
    if (!context) return {};
    try {
        pugi::xpath_node_set set = context.select_nodes(TranslatePattern(pattern).c_str());
        set.sort();
        return set;
    } catch (const pugi::xpath_exception& error) {
        RaiseError(std::string("Invalid selection pattern ") + std::string(pattern) + ": " + error.what());
    }
}

std::string NodeText(pugi::xml_node node) {
    std::string text;
    if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) return node.value();
    AppendText(node, text);
    return text;
}

std::string NodeText(const pugi::xpath_node& node) {
    if (node.attribute()) return node.attribute().value();
    return NodeText(node.node());
}

std::string XmlText(pugi::xml_node node, std::string_view pattern, const std::string& fallback) {
    if (!node) return fallback;
    const pugi::xpath_node found = SelectSingle(node, pattern);
    if (!found) return fallback;
    std::string text = NodeText(found);
    return text.empty() ? fallback : text;
}

long long XmlInteger(pugi::xml_node node, std::string_view pattern, long long fallback) {
    return ParseInteger(XmlText(node, pattern, "")).value_or(fallback);
}

bool XmlTextChanged(pugi::xml_node node, std::string_view pattern, std::string& variable) {
    if (!node) return false;
    const pugi::xpath_node found = SelectSingle(node, pattern);
    if (!found) return false;
    std::string text = NodeText(found);
    if (text == variable) return false;
    variable = std::move(text);
    return true;
}

} // namespace tarvicon
