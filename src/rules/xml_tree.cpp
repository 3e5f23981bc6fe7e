#include "rules/xml_tree.h"

namespace qv {

XmlAttribute* XmlElement::FindAttribute(std::string_view attributeName) {
  for (XmlAttribute& a : attributes) {
    if (a.name == attributeName) return &a;
  }
  return nullptr;
}

const XmlAttribute* XmlElement::FindAttribute(std::string_view attributeName) const {
  return const_cast<XmlElement*>(this)->FindAttribute(attributeName);
}

XmlElement* XmlDocument::FindRoot(std::string_view rootName) {
  for (XmlElement& e : elements) {
    if (e.name == rootName) return &e;
  }
  return nullptr;
}

const XmlElement* XmlDocument::FindRoot(std::string_view rootName) const {
  return const_cast<XmlDocument*>(this)->FindRoot(rootName);
}

namespace {

constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" encoding=\"gb18030\"?>";
constexpr std::string_view kCdataOpen = "<![CDATA[";
constexpr std::string_view kCdataClose = "]]>";
// Deeper files are refused rather than risk the stack in the writer and in destruction.
constexpr size_t kMaxDepth = 256;

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view TrimXmlSpace(std::string_view s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && IsXmlSpace(s[b])) ++b;
  while (e > b && IsXmlSpace(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// The bytes with every "<!--" ... "-->" removed; nullopt when a comment is never closed.
std::optional<Text> RemoveComments(std::string_view s) {
  Text out;
  out.reserve(s.size());
  size_t i = 0;
  for (;;) {
    const size_t open = s.find("<!--", i);
    if (open == std::string_view::npos) break;
    const size_t close = s.find("-->", open + 4);
    if (close == std::string_view::npos) return std::nullopt;
    out.append(s.substr(i, open - i));
    i = close + 3;
  }
  out.append(s.substr(i));
  return out;
}

// "]]>" found character by character from `from`, so a trail byte never starts it.
size_t FindCdataClose(std::string_view s, size_t from) {
  for (size_t i = from; i < s.size(); i += CharLenAt(s, i)) {
    if (s.compare(i, kCdataClose.size(), kCdataClose) == 0) return i;
  }
  return std::string_view::npos;
}

bool AtEmptyClose(std::string_view s, size_t i) {
  return s[i] == '/' && i + 1 < s.size() && s[i + 1] == '>';
}

class Reader {
 public:
  explicit Reader(std::string_view s) : s_(s) {}

  std::optional<XmlDocument> Run() {
    while (i_ < s_.size()) {
      if (!Step()) return std::nullopt;
    }
    if (!open_.empty()) return std::nullopt;  // an element left open
    return std::move(doc_);
  }

 private:
  bool Step() {
    if (s_[i_] != '<') return PlainText();
    if (s_.compare(i_, kCdataOpen.size(), kCdataOpen) == 0) return Cdata();
    if (s_.compare(i_, 2, "<?") == 0 || s_.compare(i_, 2, "<!") == 0) {
      const size_t close = s_.find('>', i_ + 2);
      if (close == std::string_view::npos) return false;
      i_ = close + 1;
      return true;
    }
    if (s_.compare(i_, 2, "</") == 0) return EndTag();
    return StartTag();
  }

  bool PlainText() {
    size_t end = s_.find('<', i_);
    if (end == std::string_view::npos) end = s_.size();
    const std::string_view piece = TrimXmlSpace(s_.substr(i_, end - i_));
    i_ = end;
    if (open_.empty()) return piece.empty();  // no text outside the elements
    open_.back().text.append(piece);
    return true;
  }

  bool Cdata() {
    if (open_.empty()) return false;
    const size_t from = i_ + kCdataOpen.size();
    const size_t close = FindCdataClose(s_, from);
    if (close == std::string_view::npos) return false;
    open_.back().text.append(s_.substr(from, close - from));
    i_ = close + kCdataClose.size();
    return true;
  }

  bool EndTag() {
    const size_t close = s_.find('>', i_ + 2);
    if (close == std::string_view::npos) return false;
    const std::string_view name = s_.substr(i_ + 2, close - i_ - 2);
    if (open_.empty() || open_.back().name != name) return false;
    i_ = close + 1;
    XmlElement done = std::move(open_.back());
    open_.pop_back();
    Attach(std::move(done));
    return true;
  }

  bool StartTag() {
    size_t k = i_ + 1;
    while (k < s_.size() && s_[k] != ' ' && s_[k] != '>' && !AtEmptyClose(s_, k)) {
      if (s_[k] == '"' || s_[k] == '<') return false;
      ++k;
    }
    if (k == i_ + 1 || k >= s_.size()) return false;
    XmlElement e;
    e.name.assign(s_.substr(i_ + 1, k - i_ - 1));
    for (;;) {
      bool spaced = false;
      while (k < s_.size() && s_[k] == ' ') {
        ++k;
        spaced = true;
      }
      if (k >= s_.size()) return false;
      if (s_[k] == '>') {
        i_ = k + 1;
        if (open_.size() >= kMaxDepth) return false;
        open_.push_back(std::move(e));
        return true;
      }
      if (AtEmptyClose(s_, k)) {
        i_ = k + 2;
        Attach(std::move(e));
        return true;
      }
      if (!spaced) return false;  // attributes are separated by spaces
      size_t m = k;
      while (m < s_.size() && s_[m] != ' ' && s_[m] != '=' && s_[m] != '>' &&
             !AtEmptyClose(s_, m)) {
        if (s_[m] == '"' || s_[m] == '<') return false;
        ++m;
      }
      if (m == k || m >= s_.size()) return false;
      XmlAttribute a;
      a.name.assign(s_.substr(k, m - k));
      if (s_[m] == '=') {
        if (m + 1 >= s_.size() || s_[m + 1] != '"') return false;
        const size_t quote = s_.find('"', m + 2);
        if (quote == std::string_view::npos) return false;
        a.value.assign(s_.substr(m + 2, quote - m - 2));
        k = quote + 1;
      } else {
        a.value = "1";
        k = m;
      }
      if (e.FindAttribute(a.name) != nullptr) return false;  // the same attribute twice
      e.attributes.push_back(std::move(a));
    }
  }

  void Attach(XmlElement e) {
    if (open_.empty()) {
      doc_.elements.push_back(std::move(e));
    } else {
      open_.back().children.push_back(std::move(e));
    }
  }

  std::string_view s_;
  size_t i_ = 0;
  std::vector<XmlElement> open_;
  XmlDocument doc_;
};

// The content of one CDATA section. Every "<!--" is split over two sections, since comments are
// removed before anything else is read.
void AppendCdataContent(std::string_view content, Text& out) {
  for (;;) {
    const size_t open = content.find("<!--");
    if (open == std::string_view::npos) break;
    out.append(content.substr(0, open + 2));  // "<!" here, "--" in the next section
    out.append(kCdataClose);
    out.append(kCdataOpen);
    content.remove_prefix(open + 2);
  }
  out.append(content);
}

// Whether the last character of `s`, read from its start, is a lead byte without its trail.
bool EndsInLoneLeadByte(std::string_view s) {
  size_t last = 0;
  for (size_t i = 0; i < s.size(); i += CharLenAt(s, i)) last = i;
  return !s.empty() && last == s.size() - 1 && IsLeadByte(static_cast<unsigned char>(s[last]));
}

// Text as written between the tags. Text the reader would not give back as it is (holding "<",
// or with white space at an end) goes into CDATA sections, so a save never makes the file
// unreadable. A lone lead byte at the end stays outside the last section: inside, the reader
// would take it with the "]" of "]]>".
void AppendText(std::string_view text, Text& out) {
  const bool plain = text.find('<') == std::string_view::npos && TrimXmlSpace(text) == text;
  if (plain) {
    out.append(text);
    return;
  }
  std::string_view tail;
  if (EndsInLoneLeadByte(text)) {
    tail = text.substr(text.size() - 1);
    text.remove_suffix(1);
  }
  out.append(kCdataOpen);
  for (size_t i = 0; i < text.size();) {
    const size_t close = FindCdataClose(text, i);
    if (close == std::string_view::npos) {
      AppendCdataContent(text.substr(i), out);
      break;
    }
    AppendCdataContent(text.substr(i, close + 2 - i), out);  // "]]" here, ">" in the next one
    out.append(kCdataClose);
    out.append(kCdataOpen);
    i = close + 2;
  }
  out.append(kCdataClose);
  out.append(tail);
}

// An attribute value as written between its quotes. The "<" of a "<!--" is written as "&lt;"
// (the value's own encoding), so the reader's removal of comments leaves the value alone.
void AppendAttributeValue(std::string_view value, Text& out) {
  for (;;) {
    const size_t open = value.find("<!--");
    if (open == std::string_view::npos) break;
    out.append(value.substr(0, open));
    out.append("&lt;");
    value.remove_prefix(open + 1);
  }
  out.append(value);
}

void AppendElement(const XmlElement& e, size_t level, Text& out) {
  out += "\r\n";
  out.append(level, '\t');
  out += '<';
  out += e.name;
  for (const XmlAttribute& a : e.attributes) {
    out += ' ';
    out += a.name;
    out += "=\"";
    AppendAttributeValue(a.value, out);
    out += '"';
  }
  if (e.text.empty() && e.children.empty()) {
    out += "/>";
    return;
  }
  out += '>';
  AppendText(e.text, out);
  for (const XmlElement& c : e.children) AppendElement(c, level + 1, out);
  if (!e.children.empty()) {
    out += "\r\n";
    out.append(level, '\t');
  }
  out += "</";
  out += e.name;
  out += '>';
}

}  // namespace

std::optional<XmlDocument> ParseXml(std::string_view bytes) {
  const std::optional<Text> s = RemoveComments(bytes);
  if (!s) return std::nullopt;
  return Reader(*s).Run();
}

Text WriteXml(const XmlDocument& document) {
  Text out(kDeclaration);
  for (const XmlElement& e : document.elements) AppendElement(e, 0, out);
  return out;
}

}  // namespace qv
