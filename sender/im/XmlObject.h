#pragma once
// The small element class the instant-message store writes its elements
// with: a name (none makes a node that contributes only its text and
// children), attributes in the order added, a text written before the
// children, and the children it owns. Values and texts are escaped when
// they are added (XmlText.h); GetXML writes them as they are stored. Pure.
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sender {

class XmlObject {
 public:
  XmlObject() = default;
  explicit XmlObject(std::string_view name);

  // Nothing for an empty value. The name is cut to 255 characters; the
  // value to 255 UTF-16 units, escaped, and cut to 255 bytes of whole
  // characters and entities.
  void AddAttribute(std::string_view name, std::u16string_view value);
  // A new last child named name (cut to 255; empty: a nameless node) with
  // the text, escaped, unless empty. The child stays owned by this node.
  XmlObject& AddElement(std::string_view name, std::u16string_view text = {});
  void SetText(std::u16string_view text);
  // A text written as it stands (UTF-8 the caller checked).
  void SetRawText(std::string text);
  // Empties the name, the attributes, the children and the text.
  void Clear();

  // "<name a='v'...>text children</name>", "<name .../>" without text and
  // children; a nameless node writes its text and children only.
  std::string GetXML() const;

 private:
  std::string name_;
  std::vector<std::pair<std::string, std::string>> attributes_;
  std::vector<std::unique_ptr<XmlObject>> children_;
  std::string text_;
};

}  // namespace sender
