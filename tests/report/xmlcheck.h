// A strict XML well-formedness checker for the drawing's tests, which also
// keeps the elements it read so that tests can look them up.
//
// It accepts what a standalone SVG document needs and rejects the rest:
// valid UTF-8 without the control characters XML 1.0 forbids; an optional
// XML declaration, comments and processing instructions; one root element;
// balanced, properly nested tags with legal names; attributes quoted, each
// once per element, with no '<' in their values; and only the five
// predefined entities or character references.  Document type declarations
// and CDATA sections are refused (the drawing writes none).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace mvtest {

struct XmlElement {
  std::string name;
  std::map<std::string, std::string> attrs;  // values with references replaced
  std::string text;                          // its own character data, decoded
  int depth = 0;                             // 0 for the root
  bool has(const std::string& a) const { return attrs.count(a) != 0; }
  std::string attr(const std::string& a) const {
    auto it = attrs.find(a);
    return it == attrs.end() ? std::string() : it->second;
  }
  double num(const std::string& a) const;  // attribute as a number (NaN when absent)
};

struct XmlDoc {
  std::string error;                 // empty when well-formed
  std::vector<XmlElement> elements;  // in document order
  bool ok() const { return error.empty(); }
  // The elements whose class attribute is exactly cls, in document order.
  std::vector<const XmlElement*> byClass(const std::string& cls) const;
};

XmlDoc parseXml(const std::string& text);

}  // namespace mvtest
