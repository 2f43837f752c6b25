// The extraction walk over an in-memory folder: the message structures and
// their edge cases, hostile names, and the collection's operations. The
// expected files are written out here; Python's email package and ripmime
// check the same walk on disk (attach_oracle_test.py).
#include "core/attachments/AttachmentWalk.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "core/attachments/AttachmentNames.h"
#include "core/attachments/AttachmentObjects.h"
#include "tests/support/memory_folder.h"

namespace core {
namespace {

using testing_support::MemoryFolder;
using testing_support::NoteRecorder;

const std::string Folder = "F:\\out\\";

// Runs both passes and lists each noted file as path|name|generated|content;
// the folder must hold exactly the noted files.
std::vector<std::string> Extract(const std::string& message, ExtractionOptions options, MemoryFolder& folder,
                                 NoteRecorder& recorder) {
  options.folder = Folder;
  const ExtractionOutcome outcome =
      ExtractParts([&] { return std::make_unique<MemorySource>(message, 3000); }, options, folder, recorder);
  EXPECT_TRUE(outcome.complete);
  std::vector<std::string> listed;
  for (const auto& note : recorder.notes) {
    const std::string* content = folder.Content(note.path);
    listed.push_back(note.path + "|" + note.name + "|" + (note.generated ? "1" : "0") + "|" +
                     (content ? *content : "<missing>"));
  }
  EXPECT_EQ(folder.files.size(), recorder.notes.size()) << "files that were not noted, or noted twice";
  return listed;
}

std::vector<std::string> Extract(const std::string& message, const ExtractionOptions& options = {}) {
  MemoryFolder folder;
  NoteRecorder recorder;
  return Extract(message, options, folder, recorder);
}

ExtractionOptions With(void (*change)(ExtractionOptions&)) {
  ExtractionOptions options;
  change(options);
  return options;
}

const std::string UuA59 =
    "M04%!04%!04%!04%!04%!04%!04%!04%!04%!04%!04%!04%!04%!04%!04%!\r\n"
    ".04%!04%!04%!04%!04$ \r\n";  // 45 + 14 bytes: the last line starts with its length character "."

// Builds nested multiparts L1..Ldepth with a named part at level 2 and at the
// innermost level, and one after the nest at level 1.
std::string Nest(int depth) {
  std::string m = "Content-Type: multipart/mixed; boundary=\"L1\"\r\n\r\n";
  for (int i = 1; i < depth; ++i) {
    if (i == 2) m += "--L2\r\nContent-Type: text/plain; name=\"shallow.txt\"\r\n\r\nshallow\r\n";
    m += "--L" + std::to_string(i) + "\r\nContent-Type: multipart/mixed; boundary=\"L" + std::to_string(i + 1) +
         "\"\r\n\r\n";
  }
  m += "--L" + std::to_string(depth) + "\r\nContent-Type: text/plain; name=\"deep.txt\"\r\n\r\ndeep\r\n";
  for (int i = depth; i > 1; --i)
    m += "--L" + std::to_string(i) + "--\r\n";
  return m + "--L1\r\nContent-Type: text/plain; name=\"after.txt\"\r\n\r\nafter\r\n--L1--\r\n";
}

TEST(AttachmentWalk, MessagesGiveTheirFiles) {
  const std::string two =
      "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
      "--b\r\nContent-Type: text/plain; name=\"a.txt\"\r\n\r\none\r\n"
      "--b\r\nContent-Disposition: attachment; filename=\"a.txt\"\r\n\r\ntwo\r\n--b--\r\n";
  const std::string html =
      "Content-Type: multipart/alternative; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nplain\r\n"
      "--b\r\nContent-Type: text/html\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n<p>caf=E9=\r\n</p>\r\n"
      "--b--\r\n";
  struct Row {
    const char* what;
    std::string message;
    ExtractionOptions options;
    std::vector<std::string> files;
  } rows[] = {
      {"filename= wins over name= in one line; base64 across lines",
       "Content-Type: a/b; name=\"n.bin\"; filename=\"f.bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
       "aGVsbG8g\r\nd29ybGQ=\r\n",
       {},
       {"F:\\out\\f.bin|f.bin|0|hello world"}},
      {"a base64 group goes on in the next line; \"=\" ends its own line only",
       "Content-Type: a/b; name=\"g\"\r\nContent-Transfer-Encoding: base64\r\n\r\nTWFuIG\r\nlz\r\nTWE=TWFu\r\naGk=\r\n",
       {},
       {"F:\\out\\g|g|0|Man isMahi"}},
      {"an unnamed text part is written only with ExtractAll", "Content-Type: text/plain\r\n\r\nbody\r\n", {}, {}},
      {"ExtractAll: a generated .tmp name",
       "Content-Type: text/plain\r\n\r\nbody\r\n",
       With([](ExtractionOptions& o) { o.extractAll = true; }),
       {"F:\\out\\G1.tmp|G1.tmp|1|body\r\n"}},
      {"an unnamed HTML part gets a generated name", html, {}, {"F:\\out\\G1.html|G1.html|1|<p>caf\xe9</p>\r\n"}},
      {"... unless SkipUnnamedHtml", html, With([](ExtractionOptions& o) { o.skipUnnamedHtml = true; }), {}},
      {"nested levels end at their own closing delimiter; the epilogue is dropped",
       "Content-Type: multipart/mixed; boundary=\"out\"\r\n\r\npreamble\r\n--out\r\n"
       "Content-Type: multipart/alternative; boundary=\"in\"\r\n\r\n--in\r\n"
       "Content-Type: text/plain; name=\"a.txt\"\r\n\r\ninner\r\n--in--\r\ndropped epilogue\r\n--out\r\n"
       "Content-Type: text/plain; name=\"b.txt\"\r\n\r\nouter\r\n--out--  \r\ntrailer\r\n",
       {},
       {"F:\\out\\a.txt|a.txt|0|inner\r\n", "F:\\out\\b.txt|b.txt|0|outer\r\n"}},
      {"an enclosing delimiter ends an inner level left open",
       "Content-Type: multipart/mixed; boundary=\"out\"\r\n\r\n--out\r\n"
       "Content-Type: multipart/mixed; boundary=\"in\"\r\n\r\n--in\r\n"
       "Content-Type: text/plain; name=\"a.txt\"\r\n\r\nfirst\r\n--out\r\n"
       "Content-Type: text/plain; name=\"b.txt\"\r\n\r\nsecond\r\n--out--\r\n",
       {},
       {"F:\\out\\a.txt|a.txt|0|first\r\n", "F:\\out\\b.txt|b.txt|0|second\r\n"}},
      {"64 levels: deeper ones pass over, the outer ones go on",
       Nest(70),
       {},
       {"F:\\out\\shallow.txt|shallow.txt|0|shallow\r\n", "F:\\out\\after.txt|after.txt|0|after\r\n"}},
      {"... and a nest within the cap is walked whole",
       Nest(20),
       {},
       {"F:\\out\\shallow.txt|shallow.txt|0|shallow\r\n", "F:\\out\\deep.txt|deep.txt|0|deep\r\n",
        "F:\\out\\after.txt|after.txt|0|after\r\n"}},
      {"an undeclared boundary followed by a Content- line splits the message",
       "Subject: none\r\n\r\nintro\r\n--xyz\r\nContent-Type: text/plain; name=\"u.txt\"\r\n\r\nfound\r\n--xyz--\r\n",
       {},
       {"F:\\out\\u.txt|u.txt|0|found\r\n"}},
      {"a boundary-like line without a Content- line stays body text",
       "Content-Disposition: attachment; filename=\"t.txt\"\r\n\r\n--not a boundary\r\n--tok\r\nplain\r\n",
       {},
       {"F:\\out\\t.txt|t.txt|0|--not a boundary\r\n--tok\r\nplain\r\n"}},
      {"two attachments of one name: the second under a unique name in front",
       two,
       {},
       {"F:\\out\\a.txt|a.txt|0|one\r\n", "F:\\out\\G1.a.txt|a.txt|0|two\r\n"}},
      {"encapsulated message: its own headers count",
       "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: message/rfc822\r\n\r\n"
       "Subject: inner\r\nContent-Type: text/plain; name=\"m.txt\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
       "TWFuIGlz\r\n--b--\r\n",
       {},
       {"F:\\out\\m.txt|m.txt|0|Man is"}},
      {"stuffed form: dots removed, a soft break joins, the end mark ends",
       "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/plain; name=\"d.txt\"\r\n"
       "Content-Transfer-Encoding: quoted-printable\r\n\r\n..dot=\r\nted\r\n..\r\n--b--\r\n.\r\n--b\r\nnever\r\n",
       With([](ExtractionOptions& o) { o.form = MessageForm::Stuffed; }),
       {"F:\\out\\d.txt|d.txt|0|.dotted\r\n.\r\n"}},
      {"a whole .imap file: header skipped, dots kept, a \".\" line is text",
       "00000000000000002A3B4C5D\r\nContent-Type: text/plain; name=\"i.txt\"\r\n\r\n.keep\r\n.\r\nafter\r\n",
       With([](ExtractionOptions& o) { o.form = MessageForm::StoredFile; }),
       {"F:\\out\\i.txt|i.txt|0|.keep\r\n.\r\nafter\r\n"}},
      {"inline uuencode of 45 + 14 bytes, stuffed, tagged: into scan\\",
       "Subject: uu\r\n\r\nsee attached\r\nbegin 644 "
       "a.txt\r\nM04%!04%!04%!04%!04%!04%!04%!04%!04%!04%!04%!04%!04%!04%!04%!"
       "\r\n..04%!04%!04%!04%!04$ \r\n`\r\nend\r\n.\r\n",
       With([](ExtractionOptions& o) {
         o.form = MessageForm::Stuffed;
         o.tag = 7;
       }),
       {"F:\\out\\scan\\a.txt||1|" + std::string(59, 'A')}},
      {"a uuencoded file of a MIME attachment's name does not overwrite it",
       "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/plain; name=\"a.txt\"\r\n\r\n"
       "mime\r\n--b\r\nContent-Type: text/plain\r\n\r\nbegin 644 a.txt\r\n#86)C\r\n`\r\nbegin 600 b\r\n" +
           UuA59 + "END\r\n--b--\r\n",
       {},
       {"F:\\out\\a.txt|a.txt|0|mime\r\n", "F:\\out\\G1.a.txt||1|abc", "F:\\out\\b||1|" + std::string(59, 'A')}},
  };
  for (const Row& row : rows)
    EXPECT_EQ(Extract(row.message, row.options), row.files) << row.what;
}

TEST(AttachmentWalk, FilesThatCannotBeMadeOrNotedArePassedOver) {
  const std::string three =
      "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
      "--b\r\nContent-Type: a/b; name=\"a\"\r\n\r\nA\r\n--b\r\nContent-Type: a/b; name=\"b\"\r\n\r\nB\r\n"
      "--b\r\nContent-Type: a/b; name=\"c\"\r\n\r\nC\r\n--b--\r\n";
  MemoryFolder folder;
  folder.refused.insert("f:\\out\\a");
  NoteRecorder recorder;
  recorder.refuseAt = 0;  // "b" is made, then refused: it must go again
  EXPECT_EQ(Extract(three, {}, folder, recorder), std::vector<std::string>{"F:\\out\\c|c|0|C\r\n"});
  EXPECT_EQ(folder.created, (std::vector<std::string>{"F:\\out\\b", "F:\\out\\c"}));

  // A message that cannot be opened: nothing at all.
  MemoryFolder none;
  NoteRecorder nobody;
  EXPECT_FALSE(ExtractParts([] { return std::unique_ptr<ByteSource>(); }, {}, none, nobody).complete);
  EXPECT_TRUE(none.folders.empty());
}

TEST(AttachmentWalk, HostileNamesBecomeOneCleanComponent) {
  const std::string longName = std::string(300, 'n') + ".pdf";
  struct Row {
    std::string declared, asMime, asBegin;  // the file names the two passes give
  } rows[] = {
      {"..\\..\\x.exe", "x.exe", "x.exe"},
      {"C:\\x", "x", "x"},
      {"\\\\srv\\s\\x", "x", "x"},
      {"../up/x.sh", "x.sh", "x.sh"},
      {"x:stream", "xstream", "xstream"},
      {"CON", "G1", "G1"},
      {"nul.tar.gz", "G1.gz", "G1.gz"},
      {"COM1.txt", "G1.txt", "G1.txt"},
      {"aux .txt", "G1.txt", "G1"},  // a "begin" name ends at its first blank
      {"coNIN$", "G1", "G1"},
      {"lpt\xb9.doc", "G1.doc", "G1.doc"},
      {"a.exe.", "a.exe", "a.exe"},
      {"a.b . .", "a.b", "a.b"},
      {"....", "G1", "G1"},
      {"dir\\..", "G1", "G1"},
      {"a\x01"
       "b\x7f"
       "c?*<>|.txt",
       "abc.txt", "abc.txt"},
      {"prn.abcdefghijklmnop", "G1.abcdefghijklmnop", "G1.abcdefghijklmnop"},
      {"prn.abcdefghijklmnopq", "G1", "G1"},
      {"prn.a b", "G1", "G1.a"},
      {longName, "G1", "G1"},  // declared names are cut to 255 characters, the extension with them
      {std::string(248, 'k'), std::string(248, 'k'), std::string(248, 'k')},
      {std::string(249, 'k') + ".z", "G1.z", "G1.z"},
  };
  for (const Row& row : rows) {
    const auto mime = Extract("Content-Disposition: attachment; filename=\"" + row.declared + "\"\r\n\r\nabc\r\n");
    EXPECT_EQ(mime, std::vector<std::string>{Folder + row.asMime + "|" + row.declared.substr(0, 255) + "|0|abc\r\n"})
        << row.declared;
    const auto begin = Extract("Subject: x\r\n\r\nbegin 644 " + row.declared + "\r\n#86)C\r\n`\r\nend\r\n");
    EXPECT_EQ(begin, std::vector<std::string>{Folder + row.asBegin + "||1|abc"}) << row.declared;
    EXPECT_TRUE(IsCleanFileComponent(row.asMime) && IsCleanFileComponent(row.asBegin));
  }
  // A folder that leaves no room even for a generated name: nothing is written.
  ExtractionOptions options;
  options.folder = std::string(254, 'f') + "\\";
  MemoryFolder folder;
  NoteRecorder recorder;
  ExtractParts([] { return std::make_unique<MemorySource>("Content-Type: a/b; name=\"x\"\r\n\r\nabc\r\n"); }, options,
               folder, recorder);
  EXPECT_TRUE(folder.files.empty() && recorder.notes.empty());
}

TEST(AttachmentWalk, CollectionOperations) {
  AttachmentObject a, b, c;
  ObjectCollection list;
  EXPECT_EQ(list.Add(&a), 0);
  EXPECT_EQ(list.AddObject("named", &b), 1);
  list.Insert(0, &c);  // c a b
  list.Insert(3, &c);  // c a b c: at Count is allowed
  list.Remove(&c);     // the first only: a b c
  list.Delete(0);      // b c
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.NameAt(0) + list.NameAt(1), "named ");
  EXPECT_EQ(list.IndexOf(&c), 1);
  EXPECT_EQ(list.IndexOf(&a), -1);
  EXPECT_THROW(list.GetObjectAt(2), std::out_of_range);
  EXPECT_THROW(list.GetObjectAt(-1), std::out_of_range);
  EXPECT_THROW(list.PutObject(2, &a), std::out_of_range);
  EXPECT_THROW(list.Delete(2), std::out_of_range);
  EXPECT_THROW(list.Insert(3, &a), std::out_of_range);
  EXPECT_THROW(list.Remove(&a), std::out_of_range);
  list.Clear();  // the objects are not the list's: they live on
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(b.tag, 0);
}

}  // namespace
}  // namespace core
