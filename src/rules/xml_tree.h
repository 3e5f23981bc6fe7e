// The XML dialect of the rule file: a small tree, its reader and its writer.
//
// Names, attribute values and texts are kept exactly as the file holds them (entities are not
// decoded), so what is read and written back unchanged keeps its bytes.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "text/gbk_text.h"

namespace qv {

struct XmlAttribute {
  Text name;
  Text value;
};

struct XmlElement {
  Text name;
  std::vector<XmlAttribute> attributes;  // in file order
  Text text;
  std::vector<XmlElement> children;

  XmlAttribute* FindAttribute(std::string_view attributeName);
  const XmlAttribute* FindAttribute(std::string_view attributeName) const;
};

struct XmlDocument {
  std::vector<XmlElement> elements;  // the top-level elements, normally just the root

  // The first top-level element of that name, or nullptr.
  XmlElement* FindRoot(std::string_view rootName);
  const XmlElement* FindRoot(std::string_view rootName) const;
};

// Reads the bytes of a rule file. Comments are removed first; "<?" and "<!" markup is skipped;
// an attribute without a value reads "1"; attribute values keep every byte between their
// quotes; element text is trimmed of spaces, TABs, CR and LF, CDATA content counts as text.
// Unreadable (nullopt): a mismatched end tag, an element left open, an attribute given twice,
// and anything else outside this dialect.
std::optional<XmlDocument> ParseXml(std::string_view bytes);

// The file bytes of a tree: the gb18030 declaration, then every element on its own line after
// CR LF, indented by TABs, attributes in order, empty elements self-closing, no final line end.
Text WriteXml(const XmlDocument& document);

}  // namespace qv
