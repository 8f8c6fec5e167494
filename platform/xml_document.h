// A small XML document layer over libxml2: a document built element by element and written as
// text, or parsed from text and walked node by node.
//
// - Texts are UTF-8 characters. Parsing ignores the encoding that the declaration names (the text is
//   already decoded); writing declares version "1.0" and encoding "windows-1251" unless changed and
//   keeps the content as characters.
// - Whitespace-only text beside elements (the indentation of a pretty-printed document), and any
//   directly under the document element, is dropped when parsing; every other node (text,
//   comment, processing instruction, element) stays.
// - Parse errors raise EDOMParseError with the parser's message. Element text that is not a single
//   text node raises EXMLDocError.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/exceptions.h"
#include "platform/export.h"

struct _xmlNode;
struct _xmlDoc;

// An element whose content is asked for as text but is not a single text node.
TAVO_DECLARE_EXCEPTION(EXMLDocError, Exception);

// A node of an XmlDocument; valid while the document lives. A default one is "no node".
class TAVO_PLATFORM_API XmlNode {
 public:
  XmlNode() = default;
  explicit XmlNode(_xmlNode* node) noexcept : node_(node) {}

  explicit operator bool() const noexcept { return node_ != nullptr; }
  bool IsElement() const noexcept;
  bool IsText() const noexcept;  // text or CDATA
  // Element name; "#text", "#comment", "#cdata-section" and the target of a processing instruction
  // for the other kinds.
  std::string NodeName() const;

  XmlNode FirstChild() const noexcept;
  XmlNode NextSibling() const noexcept;
  std::vector<XmlNode> ChildNodes() const;
  // The first child element with exactly that name (case-sensitive); no node when none.
  XmlNode ChildElement(std::string_view name) const noexcept;

  // An element's text: empty for an element without children, the text of its single text or CDATA
  // child; EXMLDocError for any other content (nested elements, several nodes, comments). A text
  // node's own text.
  std::string Text() const;

  // Appends a child element (with the text as its content when not empty) and returns it. Control
  // characters other than tab, line feed and carriage return are left out of the text: XML 1.0
  // has no way to carry them, and a document holding one could not be read back.
  XmlNode AppendElement(std::string_view name, std::string_view text = {});

 private:
  _xmlNode* node_ = nullptr;
};

class TAVO_PLATFORM_API XmlDocument {
 public:
  // An empty document (no document element) declaring version "1.0" and encoding "windows-1251".
  XmlDocument();
  ~XmlDocument();
  XmlDocument(XmlDocument&&) noexcept;
  XmlDocument& operator=(XmlDocument&&) noexcept;
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // Replaces the content with the parsed text; EDOMParseError when it is not well-formed.
  void LoadFromXML(std::string_view text);

  void SetVersion(std::string_view version) { version_ = version; }
  void SetEncoding(std::string_view encoding) { encoding_ = encoding; }

  XmlNode DocumentElement() const noexcept;
  // Makes a new element the document element (replacing any) and returns it.
  XmlNode CreateDocumentElement(std::string_view name);

  // The declaration, then the document element and what surrounds it, as characters.
  std::string SaveToXML() const;

 private:
  struct DocDeleter {
    void operator()(_xmlDoc* doc) const noexcept;
  };
  std::unique_ptr<_xmlDoc, DocDeleter> doc_;
  std::string version_ = "1.0";
  std::string encoding_ = "windows-1251";
};
