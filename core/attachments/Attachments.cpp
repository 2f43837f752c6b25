#include "core/attachments/Attachments.h"

#include <windows.h>

#include <climits>
#include <set>
#include <vector>

#include "core/attachments/AttachmentNames.h"
#include "core/config/ConfigStore.h"
#include "core/messages/MailboxFiles.h"
#include "core/mime/MessageFiles.h"
#include "core/platform/Files.h"
#include "core/platform/Handles.h"
#include "core/platform/LockTable.h"
#include "core/util/Text.h"

namespace core {
namespace {

constexpr DWORD CopyBlock = 64 * 1024;

std::string FileNamePart(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/:");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The extraction folder on disk. Files are created new (a taken name is
// reported, never reused) and must be disk files: a name that Windows still
// takes as a device is refused.
class DiskFiles final : public AttachmentFiles {
 public:
  bool MakeFolder(const std::string& folder) override { return ForceDirectory(folder); }

  Created Create(const std::string& path, bool replace) override {
    file_.reset(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              replace ? CREATE_ALWAYS : CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return Created::Exists;
      // A folder of that name, say.
      return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES ? Created::Exists : Created::Failed;
    }
    if (::GetFileType(file_.get()) != FILE_TYPE_DISK) {
      file_.reset();
      return Created::Failed;
    }
    return Created::Yes;
  }

  bool Write(std::string_view bytes) override {
    if (!file_) return false;
    FileSink sink(file_.get());
    return sink.Write(bytes);
  }

  bool Close() override {
    if (!file_) return false;
    file_.reset();
    return true;
  }

  void Delete(const std::string& path) override { ::DeleteFileA(path.c_str()); }

  std::string UniqueName(const std::string& folder, std::string_view extension) override {
    const std::string path = NewMessageFileName(folder, extension);
    if (folder.empty()) return path;
    return path.size() > folder.size() && SameText(path.substr(0, folder.size()), folder) ? path.substr(folder.size())
                                                                                          : std::string();
  }

 private:
  UniqueHandle file_;
};

// Notes each created file in the caller's collection; remembers the paths
// for the copy of the whole message.
class CollectionRecorder final : public AttachmentRecorder {
 public:
  CollectionRecorder(AttachmentCollection& collection, std::int32_t tag, const std::string& messagePath)
      : collection_(collection), tag_(tag), messagePath_(messagePath) {}

  bool Add(const std::string& path, const std::string& name, bool generated) override {
    if (!AddAttachmentObject(collection_, path, name, generated, tag_, messagePath_)) return false;
    written_.insert(LowerCase(path));
    return true;
  }
  bool Wrote(const std::string& path) const { return written_.count(LowerCase(path)) != 0; }

 private:
  AttachmentCollection& collection_;
  std::int32_t tag_;
  const std::string& messagePath_;
  std::set<std::string> written_;
};

// Whether two names lead to one file: the same volume and file index, or,
// where that cannot be asked, the same full path.
bool SameFile(const std::string& a, const std::string& b) {
  const auto open = [](const std::string& name) {
    return UniqueHandle(::CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  };
  const UniqueHandle first = open(a), second = open(b);
  if (!first || !second) return false;
  BY_HANDLE_FILE_INFORMATION x{}, y{};
  if (::GetFileInformationByHandle(first.get(), &x) && ::GetFileInformationByHandle(second.get(), &y))
    return x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
           x.nFileIndexLow == y.nFileIndexLow;
  char fullA[MAX_PATH * 2], fullB[MAX_PATH * 2];
  const DWORD lengthA = ::GetFullPathNameA(a.c_str(), sizeof fullA, fullA, nullptr);
  const DWORD lengthB = ::GetFullPathNameA(b.c_str(), sizeof fullB, fullB, nullptr);
  return lengthA != 0 && lengthA < sizeof fullA && lengthB != 0 && lengthB < sizeof fullB &&
         SameText(std::string_view(fullA, lengthA), std::string_view(fullB, lengthB));
}

// Copies the whole message into the folder under its own file name; an
// existing file is replaced unless it is the message itself or a file this
// extraction wrote, which keep theirs and the copy takes a unique name.
void CopyWholeMessage(const std::string& messagePath, const std::string& folder, DiskFiles& files,
                      CollectionRecorder& recorder, AttachmentCollection& collection, std::int32_t tag) {
  FileSource source;
  if (!source.Open(messagePath)) return;
  files.MakeFolder(folder);
  const std::string declared = FileNamePart(messagePath);
  std::string name = CleanFileComponent(declared);
  if (NeedsGeneratedName(name) || folder.size() + name.size() > MaxAttachmentPath)
    name = CleanFileComponent(files.UniqueName(std::string(), KeptExtension(name)));
  if (NeedsGeneratedName(name)) return;
  std::string path = folder + name;
  if (recorder.Wrote(path) || SameFile(path, messagePath)) {
    const std::string unique = CleanFileComponent(files.UniqueName(folder, std::string_view()));
    if (NeedsGeneratedName(unique)) return;
    std::string other = unique + "." + name;
    if (folder.size() + other.size() > MaxAttachmentPath) other = unique + KeptExtension(name);
    path = folder + other;
  }
  if (path.size() > MaxAttachmentPath) return;
  if (files.Create(path, true) != AttachmentFiles::Created::Yes) return;
  std::vector<char> block(CopyBlock);
  bool ok = true;
  for (std::size_t got; ok && (got = source.Read(block.data(), block.size())) != 0;)
    ok = files.Write(std::string_view(block.data(), got));
  ok = files.Close() && ok && !source.Failed();
  if (!ok) {
    files.Delete(path);
    throw ExtractionError("the message could not be copied");
  }
  if (!AddAttachmentObject(collection, path, CutTo(declared, ShortTextLength), true, tag, messagePath))
    files.Delete(path);
}

// Every object's Size from its file. The collection is walked and the sizes
// stored under lock 0, as other callers may be adding to a shared
// collection; the files are asked for their sizes without it.
void SetSizes(AttachmentCollection& collection) {
  std::vector<std::pair<AttachmentObject*, std::string>> files;
  {
    const TableLock lock(AccountFilesLock);
    if (!collection) return;
    for (int i = 0; i < collection->Count(); ++i) {
      AttachmentObject* object = collection->GetObjectAt(i);
      if (object != nullptr) files.emplace_back(object, object->filePath);
    }
  }
  std::vector<std::int64_t> sizes;
  sizes.reserve(files.size());
  for (const auto& file : files)
    sizes.push_back(GetFileSizeByName(file.second));
  const TableLock lock(AccountFilesLock);
  for (std::size_t i = 0; i < files.size(); ++i)
    files[i].first->size = sizes[i] > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(sizes[i]);
}

}  // namespace

bool AddAttachmentObject(AttachmentCollection& collection, const std::string& filePath, const std::string& name,
                         bool nameGenerated, std::int32_t tag, const std::string& messagePath) {
  std::unique_ptr<AttachmentObject> object;
  try {
    object = std::make_unique<AttachmentObject>();
    object->name = CutTo(name, ShortTextLength);
    object->filePath = CutTo(filePath, ShortTextLength);
    object->tag = tag;
    object->messagePath = CutTo(messagePath, ShortTextLength);
    object->nameGenerated = nameGenerated ? 1 : 0;
  } catch (...) {
    return false;
  }
  try {
    const TableLock lock(AccountFilesLock);
    if (!collection) collection = std::make_unique<ObjectCollection>();
  } catch (...) {
    return false;
  }
  try {
    const TableLock lock(AccountFilesLock);
    if (!collection) return false;
    collection->Add(object.get());
    object.release();
    return true;
  } catch (...) {
    return false;
  }
}

void ExtractAttachments(const std::string& messagePath, std::int32_t tag, const std::string& folder,
                        AttachmentCollection& collection, bool extractAll, bool skipUnnamedHtml) {
  ExtractionOptions options;
  options.folder = folder;
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') options.folder += '\\';
  options.tag = tag;
  options.extractAll = extractAll;
  options.skipUnnamedHtml = skipUnnamedHtml;
  options.form = MessageFormOf(messagePath);
  DiskFiles files;
  CollectionRecorder recorder(collection, tag, messagePath);
  const MessageOpener open = [&]() -> std::unique_ptr<ByteSource> {
    auto source = std::make_unique<FileSource>();
    if (!source->Open(messagePath)) return nullptr;
    return source;
  };
  const ExtractionOutcome outcome = ExtractParts(open, options, files, recorder);
  if (!outcome.complete) return;
  if (extractAll) CopyWholeMessage(messagePath, outcome.folder, files, recorder, collection, tag);
  SetSizes(collection);
}

void FreeAttachmentObjects(ObjectCollection& collection, bool deleteFiles) {
  for (int i = 0; i < collection.Count(); ++i) {
    AttachmentObject* object = collection.GetObjectAt(i);
    if (object == nullptr) continue;
    if (deleteFiles) ::DeleteFileA(object->filePath.c_str());
    delete object;
  }
  collection.Clear();
}

std::string GetAttachmentNames(const std::string& messagePath) {
  std::string names;
  std::string folder;
  AttachmentCollection collection;
  try {
    std::string temp = GetShortString(Settings().data(), cfg::TempFolder);
    if (!temp.empty() && temp.back() != '\\' && temp.back() != '/') temp += '\\';
    const std::string unique = NewMessageFileName(std::string(), std::string_view());
    if (unique.empty()) return {};
    folder = temp + unique + "\\";
    ExtractAttachments(messagePath, -1, folder, collection, false, false);
  } catch (...) {
    // What was written before the error is listed and deleted all the same.
  }
  try {
    if (collection) {
      for (int i = 0; i < collection->Count(); ++i) {
        const AttachmentObject* object = collection->GetObjectAt(i);
        if (object != nullptr && !object->name.empty()) names += ", " + object->name;
      }
    }
  } catch (...) {
  }
  if (collection) FreeAttachmentObjects(*collection, true);
  if (!folder.empty()) ::RemoveDirectoryA(folder.c_str());
  return names.size() >= 2 ? names.substr(2) : names;
}

}  // namespace core
