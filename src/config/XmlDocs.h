#pragma once
// The XML document service: a DOM with selection by the patterns the system uses. Positions in
// pattern filters count from 0 ("/*/presets/preset[1]" is the second preset); the service
// turns them into XPath's positions, which count from 1.

#include <pugixml.hpp>
#include <string>
#include <string_view>

namespace tarvicon {

// What a failed load reports; callers build their messages from it.
struct TXmlParseError {
    int Code = 0;       // 0: no error
    std::string Reason; // the parser's description
    std::string Source; // path or address; empty for text
    int Line = 0;       // from 1
    int Position = 0;   // in the line, from 1

    // reason + CR LF + source + "(" + line + "/" + position + ")"
    std::string Message() const;
};

class TXmlDocument {
public:
    // Loads synchronously from a path or an "http://" address; false on any failure.
    bool Load(const std::string& source);
    // Loads from XML text; false when it is not well-formed.
    bool LoadXml(std::string_view text);
    const TXmlParseError& ParseError() const { return error_; }

    // The document's XML text, without a declaration line.
    std::string Xml() const;

    // The document node and its root element.
    pugi::xml_node Node() const { return document_; }
    pugi::xml_node Root() const { return document_.document_element(); }
    pugi::xml_document& Dom() { return document_; }

private:
    bool Parse(std::string_view text, const std::string& source);

    pugi::xml_document document_;
    TXmlParseError error_;
};

// The pattern with its 0-based position filters made 1-based.
std::string TranslatePattern(std::string_view pattern);

// The first node the pattern selects relative to context (an element, an attribute or none).
pugi::xpath_node SelectSingle(pugi::xml_node context, std::string_view pattern);

// All nodes the pattern selects relative to context, in document order.
pugi::xpath_node_set SelectList(pugi::xml_node context, std::string_view pattern);

// Text of a selected node: an element's concatenated text content, an attribute's value.
std::string NodeText(const pugi::xpath_node& node);
std::string NodeText(pugi::xml_node node);

// Text of the first node selected, or fallback when there is none or its text is empty.
std::string XmlText(pugi::xml_node node, std::string_view pattern, const std::string& fallback);

// XmlText as a decimal integer; fallback when it is not one.
long long XmlInteger(pugi::xml_node node, std::string_view pattern, long long fallback);

// Copies the selected node's text into variable; true when that changed it.
bool XmlTextChanged(pugi::xml_node node, std::string_view pattern, std::string& variable);

} // namespace tarvicon
