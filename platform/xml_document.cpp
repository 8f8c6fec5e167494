#include "platform/xml_document.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>

#include <climits>
#include <new>

namespace {

#define RES(id, name, text) constexpr std::string_view name = text;
#include "resources/strings/xml_document.def"
#undef RES

const xmlChar* X(const std::string& s) { return reinterpret_cast<const xmlChar*>(s.c_str()); }

std::string FromXml(const xmlChar* s) { return s ? std::string(reinterpret_cast<const char*>(s)) : std::string(); }

bool IsTextKind(const xmlNode* node) {
  return node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE;
}

bool IsBlankText(const xmlNode* node) {
  if (node->type != XML_TEXT_NODE) return false;
  for (const xmlChar* c = node->content; c && *c; ++c) {
    if (*c != ' ' && *c != '\t' && *c != '\n' && *c != '\r') return false;
  }
  return true;
}

bool HasElementChild(const xmlNode* parent) {
  for (const xmlNode* child = parent->children; child; child = child->next) {
    if (child->type == XML_ELEMENT_NODE) return true;
  }
  return false;
}

// Drops the indentation between elements: whitespace-only text nodes of a parent that also holds
// elements, and every one directly under the document element (the line breaks of a list written
// empty over two lines). Depth is bounded by the parser's own nesting limit.
void DropIndentation(xmlNode* parent, bool documentElement = false) {
  const bool besideElements = documentElement || HasElementChild(parent);
  xmlNode* child = parent->children;
  while (child) {
    xmlNode* next = child->next;
    if (besideElements && IsBlankText(child)) {
      xmlUnlinkNode(child);
      xmlFreeNode(child);
    } else if (child->type == XML_ELEMENT_NODE) {
      DropIndentation(child);
    }
    child = next;
  }
}

std::string TrimmedMessage(const char* message) {
  std::string text = message ? message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

// Keeps the parser's first error (the later ones follow from it) without printing anything.
void KeepFirstError(void* userData, xmlError* error) {
  auto* ctxt = static_cast<xmlParserCtxt*>(userData);
  auto* first = static_cast<std::string*>(ctxt ? ctxt->_private : nullptr);
  if (first && first->empty() && error && error->level >= XML_ERR_ERROR) *first = TrimmedMessage(error->message);
}

struct ParserCtxtDeleter {
  void operator()(xmlParserCtxt* ctxt) const noexcept { xmlFreeParserCtxt(ctxt); }
};

struct BufferDeleter {
  void operator()(xmlBuffer* buffer) const noexcept { xmlBufferFree(buffer); }
};

// XML 1.0 cannot carry the control characters other than tab, line feed and carriage return, not
// even as character references: a text holding one would be written into a document that no parser
// reads back. They are left out.
std::string WithoutControlCharacters(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') continue;
    out.push_back(c);
  }
  return out;
}

xmlNode* NewElement(xmlDoc* doc, std::string_view name, std::string_view rawText) {
  const std::string text = WithoutControlCharacters(rawText);
  const std::string n(name);
  xmlNode* element = xmlNewDocNode(doc, nullptr, X(n), nullptr);
  if (!element) throw std::bad_alloc();
  if (!text.empty()) {
    xmlNode* content = xmlNewDocTextLen(doc, reinterpret_cast<const xmlChar*>(text.data()), static_cast<int>(text.size()));
    if (!content) {
      xmlFreeNode(element);
      throw std::bad_alloc();
    }
    xmlAddChild(element, content);
  }
  return element;
}

}  // namespace

bool XmlNode::IsElement() const noexcept { return node_ && node_->type == XML_ELEMENT_NODE; }

bool XmlNode::IsText() const noexcept { return node_ && IsTextKind(node_); }

std::string XmlNode::NodeName() const {
  if (!node_) return {};
  switch (node_->type) {
    case XML_TEXT_NODE:
      return "#text";
    case XML_CDATA_SECTION_NODE:
      return "#cdata-section";
    case XML_COMMENT_NODE:
      return "#comment";
    default:
      return FromXml(node_->name);
  }
}

XmlNode XmlNode::FirstChild() const noexcept { return XmlNode(node_ ? node_->children : nullptr); }

XmlNode XmlNode::NextSibling() const noexcept { return XmlNode(node_ ? node_->next : nullptr); }

std::vector<XmlNode> XmlNode::ChildNodes() const {
  std::vector<XmlNode> nodes;
  for (XmlNode child = FirstChild(); child; child = child.NextSibling()) nodes.push_back(child);
  return nodes;
}

XmlNode XmlNode::ChildElement(std::string_view name) const noexcept {
  if (!node_) return {};
  for (xmlNode* child = node_->children; child; child = child->next) {
    if (child->type == XML_ELEMENT_NODE && child->name &&
        std::string_view(reinterpret_cast<const char*>(child->name)) == name) {
      return XmlNode(child);
    }
  }
  return {};
}

std::string XmlNode::Text() const {
  if (!node_) return {};
  if (node_->type != XML_ELEMENT_NODE) return FromXml(node_->content);
  const xmlNode* first = node_->children;
  if (!first) return {};
  if (first->next || !IsTextKind(first)) {
    std::string message(SNotSingleTextNode);
    message.replace(message.find("%s"), 2, NodeName());
    throw EXMLDocError(message);
  }
  return FromXml(first->content);
}

XmlNode XmlNode::AppendElement(std::string_view name, std::string_view text) {
  if (!node_) throw Exception("No XML node to append to");
  xmlNode* element = NewElement(node_->doc, name, text);
  xmlAddChild(node_, element);
  return XmlNode(element);
}

void XmlDocument::DocDeleter::operator()(_xmlDoc* doc) const noexcept { xmlFreeDoc(doc); }

XmlDocument::XmlDocument() : doc_(xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"))) {
  if (!doc_) throw std::bad_alloc();
}

XmlDocument::~XmlDocument() = default;
XmlDocument::XmlDocument(XmlDocument&&) noexcept = default;
XmlDocument& XmlDocument::operator=(XmlDocument&&) noexcept = default;

void XmlDocument::LoadFromXML(std::string_view text) {
  if (text.size() > static_cast<std::size_t>(INT_MAX)) throw EDOMParseError(std::string(SXmlParseFailed));
  std::unique_ptr<xmlParserCtxt, ParserCtxtDeleter> ctxt(xmlNewParserCtxt());
  if (!ctxt) throw std::bad_alloc();
  std::string firstError;
  ctxt->_private = &firstError;
  ctxt->userData = ctxt.get();
  ctxt->sax->serror = KeepFirstError;
  // The text is characters already: whatever encoding the declaration names is ignored. No
  // network access and no entity substitution beyond the predefined ones.
  const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_IGNORE_ENC;
  xmlDoc* parsed = xmlCtxtReadMemory(ctxt.get(), text.data(), static_cast<int>(text.size()), nullptr, "UTF-8", options);
  if (!parsed) {
    std::string message = firstError;
    if (message.empty()) {
      const xmlError* error = xmlCtxtGetLastError(ctxt.get());
      if (error) message = TrimmedMessage(error->message);
    }
    throw EDOMParseError(message.empty() ? std::string(SXmlParseFailed) : message);
  }
  doc_.reset(parsed);
  for (xmlNode* top = parsed->children; top; top = top->next) {
    if (top->type == XML_ELEMENT_NODE) DropIndentation(top, /*documentElement=*/true);
  }
}

XmlNode XmlDocument::DocumentElement() const noexcept { return XmlNode(xmlDocGetRootElement(doc_.get())); }

XmlNode XmlDocument::CreateDocumentElement(std::string_view name) {
  xmlNode* element = NewElement(doc_.get(), name, {});
  xmlNode* old = xmlDocSetRootElement(doc_.get(), element);
  if (old) xmlFreeNode(old);
  return XmlNode(element);
}

std::string XmlDocument::SaveToXML() const {
  std::unique_ptr<xmlBuffer, BufferDeleter> buffer(xmlBufferCreate());
  if (!buffer) throw std::bad_alloc();
  {
    xmlSaveCtxt* save = xmlSaveToBuffer(buffer.get(), "UTF-8", XML_SAVE_NO_DECL);
    if (!save) throw std::bad_alloc();
    xmlSaveDoc(save, doc_.get());
    xmlSaveClose(save);
  }
  std::string out = "<?xml version=\"" + version_ + "\"";
  if (!encoding_.empty()) out += " encoding=\"" + encoding_ + "\"";
  out += "?>\n";
  out.append(reinterpret_cast<const char*>(xmlBufferContent(buffer.get())),
             static_cast<std::size_t>(xmlBufferLength(buffer.get())));
  return out;
}
