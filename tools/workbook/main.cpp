// dupsweep-workbook FILE: reads a workbook file with the spreadsheet control and prints what the
// control holds, for checking a template workbook by eye or in a script:
//
//   sheets<TAB>N
//   sheet<TAB>NUMBER<TAB>NAME                      for each sheet, then
//   last-row<TAB>LastRow
//   last-col<TAB>LastCol
//   merged<TAB>R1C1:R2C3                           one line per merged range
//   R<row>C<col><TAB>TEXT                          every cell holding text, row by row
//
// TEXT is the cell text the control reports, with backslash, tab, line feed and carriage return
// written as \\, \t, \n and \r so that every cell stays on one line. An unreadable file gives a
// one-line error on standard error and exit status 1; wrong usage gives status 2.

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>

#include "platform/spreadsheet/f1book.h"

namespace {

using dupsweep::sheet::F1Book;

std::string escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

void printWorkbook(F1Book& book, std::ostream& out) {
  out << "sheets\t" << book.NumSheets() << '\n';
  for (int sheet = 1; sheet <= book.NumSheets(); ++sheet) {
    book.setSheet(sheet);
    out << "sheet\t" << sheet << '\t' << escaped(book.sheetName(sheet)) << '\n';
    out << "last-row\t" << book.LastRow() << '\n';
    out << "last-col\t" << book.LastCol() << '\n';
    const auto& ws = book.workbook().current();
    for (const auto& m : ws.merges()) {
      out << "merged\tR" << m.firstRow << 'C' << m.firstCol << ":R" << m.lastRow << 'C' << m.lastCol
          << '\n';
    }
    for (int row = 1; row <= ws.storedRows(); ++row) {
      const auto cells = ws.row(row);
      for (std::size_t i = 0; i < cells.size(); ++i) {
        if (cells[i].text.empty()) continue;
        const int col = static_cast<int>(i) + 1;
        out << 'R' << row << 'C' << col << '\t' << escaped(book.text(row, col)) << '\n';
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::string_view(argv[1]).empty()) {
    std::fprintf(stderr, "usage: dupsweep-workbook FILE\n");
    return 2;
  }
  try {
    F1Book book;
    book.read(argv[1]);
    std::ios::sync_with_stdio(false);
    printWorkbook(book, std::cout);
    std::cout.flush();
    return std::cout ? 0 : 1;
  } catch (const std::exception& e) {
    std::string message = e.what();
    for (char& c : message) {
      if (c == '\n' || c == '\r') c = ' ';
    }
    std::fprintf(stderr, "dupsweep-workbook: %s\n", message.c_str());
    return 1;
  }
}
