// An extraction folder in memory for the attachment walk (native tests and
// fuzz targets): names compared without letter case as Windows does, every
// write counted, and a noting recorder that can refuse.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/attachments/AttachmentWalk.h"
#include "core/util/Text.h"

namespace testing_support {

class MemoryFolder final : public core::AttachmentFiles {
 public:
  struct File {
    std::string path, content;
  };
  std::map<std::string, File> files;  // by lower-cased path, in name order
  std::vector<std::string> created;   // paths in the order created
  std::set<std::string> folders;
  std::set<std::string> refused;  // lower-cased paths whose creation fails
  std::size_t written = 0;
  int counter = 0;

  bool MakeFolder(const std::string& folder) override {
    folders.insert(folder);
    return true;
  }
  Created Create(const std::string& path, bool replace) override {
    const std::string key = core::LowerCase(path);
    if (refused.count(key) != 0) return Created::Failed;
    if (!replace && files.count(key) != 0) return Created::Exists;
    files[key] = File{path, {}};
    created.push_back(path);
    open_ = key;
    return Created::Yes;
  }
  bool Write(std::string_view bytes) override {
    if (open_.empty()) return false;
    files[open_].content.append(bytes);
    written += bytes.size();
    return true;
  }
  bool Close() override {
    const bool was = !open_.empty();
    open_.clear();
    return was;
  }
  void Delete(const std::string& path) override { files.erase(core::LowerCase(path)); }
  std::string UniqueName(const std::string& folder, std::string_view extension) override {
    for (;;) {
      std::string name = "G" + std::to_string(++counter) + std::string(extension);
      if (files.count(core::LowerCase(folder + name)) == 0) return name;
    }
  }
  const std::string* Content(const std::string& path) const {
    const auto it = files.find(core::LowerCase(path));
    return it == files.end() ? nullptr : &it->second.content;
  }

 private:
  std::string open_;
};

struct Noted {
  std::string path, name;
  bool generated;
};

class NoteRecorder final : public core::AttachmentRecorder {
 public:
  std::vector<Noted> notes;
  int refuseAt = -1;  // the call number (from 0) that is refused
  bool Add(const std::string& path, const std::string& name, bool generated) override {
    if (calls_++ == refuseAt) return false;
    notes.push_back({path, name, generated});
    return true;
  }

 private:
  int calls_ = 0;
};

}  // namespace testing_support
