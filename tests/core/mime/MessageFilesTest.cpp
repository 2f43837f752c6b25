// The message-file routines on Windows: base64 of files against coreutils
// (references written by make_base64_refs.sh), the corpus read from disk,
// and header replacement through a temporary file.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "core/mime/HeaderText.h"
#include "core/mime/MessageFiles.h"

namespace core {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string Slurp(const std::string& fileName) {
  std::string text;
  FileSource source;
  EXPECT_TRUE(source.Open(fileName)) << fileName;
  char buffer[65536];
  for (std::size_t got; (got = source.Read(buffer, sizeof buffer)) != 0;)
    text.append(buffer, got);
  return text;
}

void Spill(const std::string& fileName, const std::string& text) {
  UniqueHandle file(::CreateFileA(fileName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(file.valid());
  FileSink sink(file.get());
  ASSERT_TRUE(sink.Write(text));
}

// A fresh folder under the temporary folder, emptied and removed at the end.
class TempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char base[MAX_PATH];
    ::GetTempPathA(MAX_PATH, base);
    folder_ = std::string(base) + "mime_files_" + std::to_string(::GetCurrentProcessId()) + "\\";
    ::CreateDirectoryA(folder_.c_str(), nullptr);
  }
  void TearDown() override {
    WIN32_FIND_DATAA entry;
    UniqueFindHandle find(::FindFirstFileA((folder_ + "*").c_str(), &entry));
    for (bool more = find.valid(); more; more = ::FindNextFileA(find.get(), &entry))
      ::DeleteFileA((folder_ + entry.cFileName).c_str());
    find.reset();
    ::RemoveDirectoryA(folder_.c_str());
  }
  std::string folder_;
};

TEST(Base64EncodeFile, EqualsCoreutilsBase64ByteForByte) {
  const std::string refs = Env("VM_MIME_REFS");
  for (const char* size : {"0", "1", "53", "54", "55", "1619", "1620", "1621", "1048576"}) {
    const std::string data = refs + "/data_" + size + ".bin";
    const std::string expected = Slurp(refs + "/data_" + size + ".b64");
    std::string text = "stale";
    ASSERT_TRUE(Base64EncodeFile(data, text)) << size;
    EXPECT_TRUE(text == expected) << size << " bytes: " << text.size() << " vs " << expected.size();
    std::string sunk;
    StringSink sink(sunk);
    ASSERT_TRUE(Base64EncodeFile(data, sink));
    EXPECT_TRUE(sunk == expected) << size;
  }
  std::string text = "stale";
  EXPECT_FALSE(Base64EncodeFile(refs + "/missing.bin", text));
  EXPECT_TRUE(text.empty());
}

TEST(MessageFiles, CorpusFromDisk) {
  const std::string corpus = Env("VM_SOURCE_DIR") + "/tests/core/mime/corpus/";
  for (const char* name : {"mixed_alternative", "forwarded", "single_base64", "dot_stuffed", "wrapped"}) {
    std::string out = "kept:";
    std::int32_t index = 0;
    EXPECT_FALSE(ReadMessageBody(corpus + name + ".eml", out, 0, "", index));
    EXPECT_TRUE(out == "kept:" + Slurp(corpus + name + ".expected")) << name;
  }
  std::int32_t index = 0;
  std::string out;
  EXPECT_FALSE(ReadMessageBody(corpus + "missing.eml", out, 0, "", index));
  const std::string subject = ReadMessageHeader(corpus + "mixed_alternative.eml", "subject: ");
  EXPECT_EQ(DecodeHeaderText(subject, false), "Quarterly caf\303\251 report");
  EXPECT_EQ(ReadHeaderValue(corpus + "missing.eml", "Subject: "), "");
}

TEST_F(TempFolder, ReplaceMessageHeaderWritesANewFile) {
  const std::string message = folder_ + "m.imap";
  Spill(message, "Subject: old\r\n\tfolded\r\nTo: x\r\n\r\nbody\r\n");
  EXPECT_EQ(ReplaceMessageHeader(message, "Subject: ", "new", "", false), message + ".tmp");
  EXPECT_EQ(Slurp(message + ".tmp"), "Subject: new\r\nTo: x\r\n\r\nbody\r\n");
  const std::string other = folder_ + "other.tmp";
  EXPECT_EQ(ReplaceMessageHeader(message, "X-Tag: ", "1", other, true), other);
  EXPECT_EQ(Slurp(other), "Subject: old\r\n\tfolded\r\nTo: x\r\nX-Tag: 1\r\n\r\nbody\r\n");

  // Refused: the message itself as target (under any spelling), a missing
  // message, a target folder that does not exist. Nothing is written.
  EXPECT_EQ(ReplaceMessageHeader(message, "Subject: ", "new", message, false), "");
  EXPECT_EQ(ReplaceMessageHeader(message, "Subject: ", "new", folder_ + ".\\M.IMAP", false), "");
  EXPECT_EQ(Slurp(message), "Subject: old\r\n\tfolded\r\nTo: x\r\n\r\nbody\r\n");
  EXPECT_EQ(ReplaceMessageHeader(folder_ + "none.imap", "Subject: ", "new", "", false), "");
  EXPECT_EQ(ReplaceMessageHeader(message, "Subject: ", "new", folder_ + "no\\such\\t.tmp", false), "");
  WIN32_FIND_DATAA entry;
  int files = 0;
  UniqueFindHandle find(::FindFirstFileA((folder_ + "*.*").c_str(), &entry));
  for (bool more = find.valid(); more; more = ::FindNextFileA(find.get(), &entry))
    files += (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ? 1 : 0;
  EXPECT_EQ(files, 3);  // the message and the two targets, no temporary file left
}

TEST_F(TempFolder, StoredMessageFileReadPastItsHeader) {
  const std::string message = folder_ + "m.imap";
  Spill(message, "00000000000000005A2B3C4D\r\nSubject: x\r\n\r\n..two\r\n.\r\nend\r\n");
  std::string out;
  std::int32_t index = 0;
  EXPECT_FALSE(ReadMessageBody(message, out, 0, "", index, MessageForm::StoredFile));
  EXPECT_EQ(out, "..two\r\n.\r\nend\r\n");
  EXPECT_EQ(index, 3);
}

}  // namespace
}  // namespace core
