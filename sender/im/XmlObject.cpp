#include "sender/im/XmlObject.h"

#include "sender/im/XmlText.h"

namespace sender {
namespace {

std::string_view CutName(std::string_view name) { return name.substr(0, XmlShortText); }

}  // namespace

XmlObject::XmlObject(std::string_view name) : name_(CutName(name)) {}

void XmlObject::AddAttribute(std::string_view name, std::u16string_view value) {
  if (value.empty()) return;
  attributes_.emplace_back(CutName(name), EncodeXMLText(CutUnits(value), XmlShortText));
}

XmlObject& XmlObject::AddElement(std::string_view name, std::u16string_view text) {
  children_.push_back(std::make_unique<XmlObject>(name));
  if (!text.empty()) children_.back()->SetText(text);
  return *children_.back();
}

void XmlObject::SetText(std::u16string_view text) { text_ = EncodeXMLText(text); }

void XmlObject::SetRawText(std::string text) { text_ = std::move(text); }

void XmlObject::Clear() {
  name_.clear();
  attributes_.clear();
  children_.clear();
  text_.clear();
}

// Walks the tree with a list of the open nodes instead of the call stack.
std::string XmlObject::GetXML() const {
  struct Open {
    const XmlObject* node;
    std::size_t next;  // the next child to write
  };
  std::string out;
  std::vector<Open> open;
  const auto start = [&](const XmlObject& node) {
    if (!node.name_.empty()) {
      out += '<';
      out += node.name_;
      for (const auto& [name, value] : node.attributes_) {
        out += ' ';
        out += name;
        out += "='";
        out += value;
        out += '\'';
      }
      if (node.children_.empty() && node.text_.empty()) {
        out += "/>";
        return;
      }
      out += '>';
    }
    out += node.text_;
    open.push_back({&node, 0});
  };
  start(*this);
  while (!open.empty()) {
    Open& top = open.back();
    if (top.next < top.node->children_.size()) {
      const XmlObject& child = *top.node->children_[top.next++];
      start(child);  // may move the list: top is not used again
      continue;
    }
    if (!top.node->name_.empty()) {
      out += "</";
      out += top.node->name_;
      out += '>';
    }
    open.pop_back();
  }
  return out;
}

}  // namespace sender
