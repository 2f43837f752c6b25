#include "core/attachments/AttachmentObjects.h"

#include <stdexcept>

namespace core {

std::size_t ObjectCollection::Checked(int index) const {
  if (index < 0 || index >= Count()) throw std::out_of_range("collection index " + std::to_string(index));
  return static_cast<std::size_t>(index);
}

void ObjectCollection::PutObject(int index, AttachmentObject* object) { entries_[Checked(index)].second = object; }

AttachmentObject* ObjectCollection::GetObjectAt(int index) const { return entries_[Checked(index)].second; }

int ObjectCollection::AddObject(std::string name, AttachmentObject* object) {
  entries_.emplace_back(std::move(name), object);
  return Count() - 1;
}

void ObjectCollection::Insert(int index, AttachmentObject* object) {
  if (index < 0 || index > Count()) throw std::out_of_range("collection index " + std::to_string(index));
  entries_.emplace(entries_.begin() + index, " ", object);
}

int ObjectCollection::IndexOf(const AttachmentObject* object) const {
  for (std::size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].second == object) return static_cast<int>(i);
  return -1;
}

void ObjectCollection::Delete(int index) {
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(Checked(index)));
}

const std::string& ObjectCollection::NameAt(int index) const { return entries_[Checked(index)].first; }

}  // namespace core
