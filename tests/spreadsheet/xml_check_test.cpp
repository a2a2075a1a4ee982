// The fast check of plain workbook XML must never pass a document that Qt's XML reader (the
// check it stands in front of) refuses, and must pass what workbook writers really write.

#include <gtest/gtest.h>

#include <orcus/zip_archive.hpp>
#include <orcus/zip_archive_stream.hpp>

#include <QByteArray>
#include <QXmlStreamReader>
#include <random>
#include <string>
#include <vector>

#include "platform/spreadsheet/orcus_guard.h"
#include "sheet_files.h"
#include "support/temp_dir.h"

namespace dupsweep::sheet {
namespace {

bool qtAccepts(const std::string& xml) {
  QXmlStreamReader reader(QByteArray::fromRawData(xml.data(), static_cast<qsizetype>(xml.size())));
  while (!reader.atEnd()) reader.readNext();
  return !reader.hasError();
}

// Every XML entry of a template workbook written by libxlsxwriter.
std::vector<std::string> workbookXml() {
  dupsweep::testing::TempDir dir;
  testing::writeTemplateXlsx(dir / "t.xlsx", 2, 12, 6);
  const std::string bytes = testing::readBytes(dir / "t.xlsx");
  orcus::zip_archive_stream_blob stream(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                        bytes.size());
  orcus::zip_archive archive(&stream);
  archive.load();
  std::vector<std::string> documents;
  for (std::size_t i = 0; i < archive.get_file_entry_count(); ++i) {
    std::vector<unsigned char> entry;
    archive.read_file_entry(archive.get_file_entry_name(i), entry);
    std::string text(entry.begin(), entry.end());
    if (!text.empty() && text.back() == '\0') text.pop_back();
    documents.push_back(std::move(text));
  }
  return documents;
}

TEST(PlainXmlCheck, PassesWhatWorkbookWritersWrite) {
  const std::vector<std::string> documents = workbookXml();
  ASSERT_GE(documents.size(), 5u);
  for (const std::string& xml : documents) {
    EXPECT_TRUE(qtAccepts(xml));
    EXPECT_TRUE(plainlyWellFormedXml(xml)) << xml.substr(0, 200);
  }
  for (const char* xml : {
           "<a/>",
           "\xEF\xBB\xBF<?xml version='1.0' encoding='utf-8' standalone=\"yes\"?>\r\n<a b='&lt;'/>",
           "<!-- c --><?pi x?><p:a xmlns:p='u' p:b=\"1\" c='&#x4E2D;&#20013;'><![CDATA[<&]]>"
           "文本 &amp; &quot;&apos;&gt;<p:b/></p:a><!-- end -->\n",
           "<a xmlns='u'><b xmlns:q='v'><q:c/></b></a>",
       }) {
    EXPECT_TRUE(qtAccepts(xml)) << xml;
    EXPECT_TRUE(plainlyWellFormedXml(xml)) << xml;
  }
}

TEST(PlainXmlCheck, LeavesEveryFaultToQt) {
  for (const std::string& xml : std::vector<std::string>{
           "",
           "   ",
           "text",
           "<a>",
           "<a></b>",
           "<a/><b/>",
           "<a/>text",
           "<a>]]></a>",
           "<a b=1/>",
           "<a b='1'c='2'/>",
           "<a b='1' b='2'/>",
           "<p:a/>",
           "<a p:b='1'/>",
           "<a xmlns:p=''/>",
           "<a>&#0;</a>",
           "<a>&#x110000;</a>",
           "<a>&nbsp;</a>",
           "<a>&amp</a>",
           "<a><!-- x -- y --></a>",
           "<a><!-- x ---></a>",
           "<a>\x01</a>",
           "<a>\xC0\xAF</a>",
           "<a>\xED\xA0\x80</a>",
           "<a>\xEF\xBF\xBE</a>",
           "<a>\xFF</a>",
           "<!DOCTYPE a><a/>",
           " <?xml version='1.0'?><a/>",
           "<a/><?xml version='1.0'?>",
           "<?xml version='1.1'?><a/>",
           "<?xml version='1.0' encoding='latin1'?><a/>",
           "<?xml version='1.0' encoding='utf\r8'?><a/>",
           "<a b='<'/>",
           "<a><b></a></b>",
           "<1a/>",
           "<a:/>",
           "<:a/>",
           "<a xmlns:xmlns='u'/>",
           std::string("<a>\0</a>", 8),
       }) {
    EXPECT_FALSE(plainlyWellFormedXml(xml)) << xml;
  }
}

// Random damage to real workbook XML: whatever the fast check passes, Qt's reader passes too.
TEST(PlainXmlCheck, NeverPassesDamagedXmlThatQtRefuses) {
  const std::vector<std::string> documents = workbookXml();
  const std::string pieces[] = {"<",    ">",    "&",    ";",    "\"",  "'",    "/",
                                "!",    "?",    "-",    "]",    ":",   "=",    " ",
                                "\x00", "\x80", "\xff", "&#1;", "]]>", "<!--", "xmlns:x=''",
                                "</",   "/>",   "<a>",  "</a>", "&#x", "x:y",  "\xEF\xBF\xBF"};
  std::mt19937 rng(20261209);
  int passed = 0, refused = 0;
  for (const std::string& original : documents) {
    if (original.size() > 20000) continue;
    for (int round = 0; round < 1500; ++round) {
      std::string xml = original;
      const int edits = 1 + static_cast<int>(rng() % 3);
      for (int e = 0; e < edits && !xml.empty(); ++e) {
        const std::size_t at = rng() % xml.size();
        switch (rng() % 4) {
          case 0:
            xml.replace(at, 1, pieces[rng() % std::size(pieces)]);
            break;
          case 1:
            xml.erase(at, 1 + rng() % 8);
            break;
          case 2:
            xml.insert(at, pieces[rng() % std::size(pieces)]);
            break;
          default:
            xml.resize(at);
        }
      }
      const bool fast = plainlyWellFormedXml(xml);
      if (fast) {
        ++passed;
        EXPECT_TRUE(qtAccepts(xml)) << xml;
      } else {
        ++refused;
      }
    }
  }
  // Both outcomes occur, so the comparison means something.
  EXPECT_GT(passed, 50);
  EXPECT_GT(refused, 50);
}

}  // namespace
}  // namespace dupsweep::sheet
