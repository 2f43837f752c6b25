#pragma once
// The objects an extraction hands to its caller: one AttachmentObject per
// written file, listed in an ObjectCollection. The collection does not own
// its objects (a scanner may keep some after the list is gone); whoever
// holds the list frees them with FreeAttachmentObjects (Attachments.h).
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace core {

// One written file. Texts are at most 255 characters; the fields keep the
// order the scanner's record has, the ones this library never reads too.
struct AttachmentObject {
  std::string name;      // as the message declares it; generated or the message's own for copies; empty for uuencode
  std::string filePath;  // full path of the written file
  std::string text;      // unused here, empty
  std::int32_t tag = 0;  // the caller's tag (-1: none)
  std::string messagePath;
  std::uint8_t nameGenerated = 0;  // 1: generated name, the message copy, a uuencoded file
  std::uint8_t flag = 0;
  std::int32_t size = 0;  // bytes of the file once the extraction ended
  std::uint8_t flags[2] = {0, 0};
  std::string text2;
};

// An ordered list of (name, object) entries. Indices count from 0; an index
// outside the entries (Insert: outside 0..Count) throws std::out_of_range, as
// does Remove of an object that is not listed.
class ObjectCollection {
 public:
  void PutObject(int index, AttachmentObject* object);
  // (windows.h makes GetObject a macro.)
  AttachmentObject* GetObjectAt(int index) const;
  int Count() const { return static_cast<int>(entries_.size()); }
  void Clear() { entries_.clear(); }
  // Appends under the name " ".
  int Add(AttachmentObject* object) { return AddObject(" ", object); }
  int AddObject(std::string name, AttachmentObject* object);
  // Inserts under the name " ".
  void Insert(int index, AttachmentObject* object);
  // The first entry holding the object, -1 when none does.
  int IndexOf(const AttachmentObject* object) const;
  void Remove(const AttachmentObject* object) { Delete(IndexOf(object)); }
  void Delete(int index);
  const std::string& NameAt(int index) const;

 private:
  std::size_t Checked(int index) const;
  std::vector<std::pair<std::string, AttachmentObject*>> entries_;
};

// The caller's variable: empty until the first object is added.
using AttachmentCollection = std::unique_ptr<ObjectCollection>;

}  // namespace core
