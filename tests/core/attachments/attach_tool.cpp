// Command-line front of the extraction for the oracle test and the
// benchmark: attach_tool LIST OUT. Each line of LIST is a message path, a
// folder, a tag and the flags ExtractAll and SkipUnnamedHtml (0 or 1),
// separated by tabs; OUT gets one line per object: the line's number, the
// object's NameGenerated, Size, Name and FilePath, separated by tabs.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "core/attachments/Attachments.h"
#include "core/platform/LockTable.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: attach_tool LIST OUT\n");
    return 2;
  }
  core::CreateLockTable(true);
  std::ifstream list(argv[1]);
  std::ofstream out(argv[2], std::ios::binary);
  std::string line;
  for (int number = 0; std::getline(list, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream fields(line);
    std::string message, folder, tag, all, skip;
    std::getline(fields, message, '\t');
    std::getline(fields, folder, '\t');
    std::getline(fields, tag, '\t');
    std::getline(fields, all, '\t');
    std::getline(fields, skip, '\t');
    core::AttachmentCollection collection;
    try {
      core::ExtractAttachments(message, std::stoi(tag), folder, collection, all == "1", skip == "1");
    } catch (const std::exception& error) {
      std::fprintf(stderr, "%s: %s\n", message.c_str(), error.what());
      return 1;
    }
    for (int i = 0; collection && i < collection->Count(); ++i) {
      const core::AttachmentObject& object = *collection->GetObjectAt(i);
      out << number << '\t' << int{object.nameGenerated} << '\t' << object.size << '\t' << object.name << '\t'
          << object.filePath << '\n';
    }
    if (collection) core::FreeAttachmentObjects(*collection, false);
  }
  return 0;
}
