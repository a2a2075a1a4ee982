#include "data/statements.h"

#include <charconv>

#include "platform/text/text.h"

namespace dupsweep::sql {
namespace {

bool sqlite(db::Dialect d) { return d == db::Dialect::SQLite; }

std::string str(std::int32_t n) { return std::to_string(n); }

}  // namespace

std::string joined(const Lines& lines) {
  std::string text;
  for (const auto& line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

std::string quoted(std::string_view value) {
  // A NUL ends a statement's text for the database; a value holding one cannot be sent intact.
  if (value.find('\0') != std::string_view::npos)
    throw DatabaseError("A value of the statement holds a NUL character");
  std::string out;
  out.reserve(value.size() + 2);
  for (char c : value) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

bool isSafeTableName(std::string_view name) noexcept {
  if (name.empty()) return false;
  for (unsigned char c : name) {
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

bool isBareName(std::string_view name) noexcept {
  if (name.empty()) return false;
  const auto letter = [](unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
  };
  if (!letter(static_cast<unsigned char>(name.front()))) return false;
  for (unsigned char c : name)
    if (!letter(c) && !(c >= '0' && c <= '9')) return false;
  return true;
}

std::string tableName(db::Dialect d, std::string_view name) {
  if (isBareName(name)) return std::string(name);
  const char open = sqlite(d) ? '"' : '[';
  const char close = sqlite(d) ? '"' : ']';
  std::string out(1, open);
  for (char c : name) {
    out += c;
    if (c == close) out += close;
  }
  out += close;
  return out;
}

Lines unitLevel(db::Dialect d, std::string_view unitClsCode, std::string_view parentCode,
                std::int32_t level) {
  // SQLite reads "dbo." as the name of an attached database.
  const std::string o = sqlite(d) ? "" : "dbo.";
  Lines lines{
      "SELECT " + o + "Unit.nUnitID,\t" + o + "Unit.sUnitName,\t" + o + "UnitClsAndUnit.nLevel,",
      "        " + o + "UnitClsAndUnit.sUnitCode",
      "  FROM  " + o + "UnitClsAndUnit," + o + "Unit",
      "  WHERE  (" + o + "UnitClsAndUnit.sUnitClsCode = '" + quoted(unitClsCode) + "'",
      "      AND   " + o + "UnitClsAndUnit.nUnitID = " + o + "Unit.nUnitID",
      "      AND   " + o + "UnitClsAndUnit.nLevel = " + str(level),
  };
  if (level == 0)
    lines.push_back("      AND   " + o + "UnitClsAndUnit.sParentCode is Null)");
  else
    lines.push_back("   AND   " + o + "UnitClsAndUnit.sParentCode = '" + quoted(parentCode) + "')");
  return lines;
}

Lines unitsByCode(db::Dialect d, std::string_view unitClsCode,
                  const std::vector<std::string>& unitCodes) {
  const std::string o = sqlite(d) ? "" : "dbo.";
  std::string codes;
  for (const std::string& code : unitCodes) {
    if (!codes.empty()) codes += ",";
    codes += "'" + quoted(code) + "'";
  }
  Lines lines{
      "SELECT " + o + "Unit.nUnitID,\t" + o + "Unit.sUnitName,\t" + o + "UnitClsAndUnit.nLevel,",
      "        " + o + "UnitClsAndUnit.sUnitCode",
      "  FROM  " + o + "UnitClsAndUnit," + o + "Unit",
      "  WHERE  (" + o + "UnitClsAndUnit.nUnitID = " + o + "Unit.nUnitID",
  };
  if (!unitClsCode.empty())
    lines.push_back("      AND   " + o + "UnitClsAndUnit.sUnitClsCode = '" + quoted(unitClsCode) +
                    "'");
  lines.push_back("      AND   " + o + "UnitClsAndUnit.sUnitCode IN (" + codes + "))");
  lines.push_back("  ORDER BY " + o + "UnitClsAndUnit.sUnitCode, " + o + "UnitClsAndUnit.nLevel");
  return lines;
}

Lines classificationUnits(db::Dialect d, std::string_view unitClsCode) {
  const std::string o = sqlite(d) ? "" : "dbo.";
  return {
      "SELECT " + o + "Unit.nUnitID,\t" + o + "Unit.sUnitName,\t" + o + "UnitClsAndUnit.nLevel,",
      "        " + o + "UnitClsAndUnit.sUnitCode,\t" + o + "UnitClsAndUnit.sParentCode",
      "  FROM  " + o + "UnitClsAndUnit," + o + "Unit",
      "  WHERE  (" + o + "UnitClsAndUnit.sUnitClsCode = '" + quoted(unitClsCode) + "'",
      "      AND   " + o + "UnitClsAndUnit.nUnitID = " + o + "Unit.nUnitID",
      "      AND   " + o + "UnitClsAndUnit.nLevel >= 0)",
      "  ORDER BY " + o + "UnitClsAndUnit.nLevel, " + o + "UnitClsAndUnit.sUnitCode",
  };
}

Lines periodList(db::Dialect d, std::string_view taskCode, std::int32_t level) {
  Lines lines;
  if (sqlite(d)) {
    lines.push_back("SELECT pd.sPeriodId,  (CASE WHEN nPeriodType=-1 THEN '模板样表'");
    lines.push_back(
        "       ELSE( sPeriodName ||'('||(CASE substr(PD.sPeriodId,-1,1) WHEN 'N' THEN '年报' "
        "WHEN 'Q' THEN '季报' WHEN 'M' THEN '月报' WHEN 'X' THEN '旬报' WHEN 'W' THEN '周报' "
        "ELSE '日报' END)||')')END) AS sPeriodName");
  } else {
    lines.push_back("SELECT pd.sPeriodId,  sPeriodName=(CASE WHEN nPeriodType=-1 THEN '模板样表'");
    lines.push_back(
        "       ELSE( sPeriodName +'('+(CASE RIGHT(PD.sPeriodId,1) WHEN 'N' THEN '年报' "
        "WHEN 'Q' THEN '季报' WHEN 'M' THEN '月报' WHEN 'X' THEN '旬报' WHEN 'W' THEN '周报' "
        "ELSE '日报' END)+')')END)");
  }
  lines.push_back("\t\t\tFROM\tPeriod pd,PeriodTable p");
  lines.push_back("\t\t\tWHERE\tpd.sPeriodID=p.sPeriodID");
  lines.push_back("\t\t\t\t\tAND p.sTaskCode='" + quoted(taskCode) + "' AND nPeriodType<>-1");
  lines.push_back("\t\t\t   AND nPeriodType<>-2 AND nSheetOrder=1 AND p.nSampleLevel= " +
                  str(level) + "  AND bIsBaseSample=1");
  lines.push_back("\t\t\t\tORDER BY sPeriodName");
  return lines;
}

Lines sampleList(db::Dialect d, std::string_view periodId, std::string_view taskCode,
                 std::int32_t level) {
  const std::string p = quoted(periodId);
  const std::string t = quoted(taskCode);
  return {
      "Select *, (Select bUseTarget from SampleTableVts ",
      "       where sPeriodID = '" + p + "'",
      "   And sTaskCode = '" + t + "'",
      "   And  nSampleLevel = " + str(level),
      std::string("  and bIsBaseSample = 1) as bUseTarget from ") +
          (sqlite(d) ? "PeriodTable" : "dbo.PeriodTable"),
      "   Where sPeriodID = '" + p + "'",
      "    And sTaskCode = '" + t + "'",
      " And nSampleLevel = " + str(level),
      sqlite(d) ? " And  substr(sSampleCode,1,1)<>'^'" : " And  SubString(sSampleCode,1,1)<>'^'",
  };
}

Lines unitData(db::Dialect d, std::string_view table, std::string_view unitCode,
               std::string_view periodId) {
  return {
      "Select * from " + tableName(d, table),
      "  Where sPeriodID = '" + quoted(periodId) + "'",
      "    And sUnitCode = '" + quoted(unitCode) + "'",
      "   Order by nRow",
  };
}

Lines sheetData(db::Dialect d, std::string_view table, std::string_view periodId) {
  return {
      "Select * from " + tableName(d, table),
      "  Where sPeriodID = '" + quoted(periodId) + "'",
      "   Order by sUnitCode, nRow",
  };
}

Lines templateWorkbook(db::Dialect, std::string_view periodId, std::string_view taskCode,
                       std::int32_t level) {
  return {
      "Select OleVTS from SampleTableVts",
      "   Where sPeriodID = '" + quoted(periodId) + "'",
      "    And sTaskCode = '" + quoted(taskCode) + "'",
      " And nSampleLevel = " + str(level),
      " And bIsBaseSample = 1",
  };
}

Lines deleteTableData(db::Dialect d, std::string_view table, std::string_view unitCode,
                      std::string_view periodId) {
  return {
      "Delete from " + tableName(d, table),
      "  Where sPeriodID = '" + quoted(periodId) + "'",
      "    And sUnitCode = '" + quoted(unitCode) + "'",
  };
}

Lines deleteStatus(std::string_view periodId, std::string_view unitCode, std::string_view taskCode,
                   std::int32_t level) {
  return {
      "Delete from Status",
      "  Where sPeriodID = '" + quoted(periodId) + "'",
      "    And sUnitCode = '" + quoted(unitCode) + "'",
      "    And sTaskCode = '" + quoted(taskCode) + "'",
      "    And nLevel = " + str(level),
  };
}

Lines keptTableRows(db::Dialect d, std::string_view table, std::string_view unitCode,
                    std::string_view periodId) {
  return {
      "Select * from " + tableName(d, table),
      "  Where sPeriodID = '" + quoted(periodId) + "'",
      "    And sUnitCode = '" + quoted(unitCode) + "'",
  };
}

Lines keptStatusRows(std::string_view periodId, std::string_view unitCode,
                     std::string_view taskCode, std::int32_t level) {
  return {
      "Select * from Status",
      "  Where sPeriodID = '" + quoted(periodId) + "'",
      "    And sUnitCode = '" + quoted(unitCode) + "'",
      "    And sTaskCode = '" + quoted(taskCode) + "'",
      "    And nLevel = " + str(level),
  };
}

Lines insertRow(db::Dialect d, std::string_view table, const std::vector<std::string>& columns) {
  std::string names, markers;
  for (const std::string& column : columns) {
    if (column.find('\0') != std::string::npos)
      throw DatabaseError("A column name of table " + std::string(table) +
                          " holds a NUL character");
    if (!names.empty()) {
      names += ", ";
      markers += ", ";
    }
    names += tableName(d, column);  // the same delimiting serves column names
    markers += "?";
  }
  return {
      "Insert into " + tableName(d, table) + " (" + names + ")",
      "  Values (" + markers + ")",
  };
}

Lines keptRowsTyped(const Lines& kept, const std::vector<std::string>& columns) {
  std::string list;
  for (const std::string& column : columns) {
    if (column.find('\0') != std::string::npos)
      throw DatabaseError("A column name holds a NUL character");
    const std::string c = tableName(db::Dialect::SQLite, column);
    if (!list.empty()) list += ", ";
    list += "CASE typeof(" + c + ") WHEN 'null' THEN 'n' WHEN 'integer' THEN 'i' || " + c +
            " WHEN 'real' THEN 'r' || printf('%!.20e', " + c + ") WHEN 'text' THEN 't' || hex(" +
            c + ") ELSE 'b' || hex(" + c + ") END AS " + c;
  }
  Lines typed = kept;
  const std::string all = "Select *";
  if (typed.empty() || !typed.front().starts_with(all))
    throw DatabaseError("The statement does not select every column");
  typed.front().replace(0, all.size(), "Select " + list);
  return typed;
}

db::Value typedKeptValue(std::string_view cell, std::string_view utf16) {
  const auto invalid = [cell](KeptValueProblem why) {
    return KeptValueError(why, text::utf8Prefix(cell, 40));
  };
  if (cell.empty()) throw invalid(KeptValueProblem::NoStorageClass);
  const char tag = cell.front();
  const std::string_view body = cell.substr(1);
  const auto hexBytes = [&]() {
    std::string out;
    if (body.size() % 2 != 0) throw invalid(KeptValueProblem::IncompleteHex);
    out.reserve(body.size() / 2);
    for (std::size_t i = 0; i < body.size(); i += 2) {
      unsigned byte = 0;
      const auto r = std::from_chars(body.data() + i, body.data() + i + 2, byte, 16);
      if (r.ec != std::errc() || r.ptr != body.data() + i + 2)
        throw invalid(KeptValueProblem::NotHex);
      out += static_cast<char>(byte);
    }
    return out;
  };
  switch (tag) {
    case 'n':
      if (body.empty()) return db::Null{};
      break;
    case 'i': {
      std::int64_t v = 0;
      const auto r = std::from_chars(body.data(), body.data() + body.size(), v);
      if (r.ec == std::errc() && r.ptr == body.data() + body.size() && !body.empty()) return v;
      throw invalid(KeptValueProblem::NotInteger);
    }
    case 'r':
      if (const auto d = db::doubleFromSqlitePrintf(body)) return *d;
      throw invalid(KeptValueProblem::InexactReal);
    case 't': {
      std::string bytes = hexBytes();
      if (utf16.empty()) return bytes;
      if (bytes.size() % 2 != 0) throw invalid(KeptValueProblem::IncompleteUtf16);
      std::u16string units(bytes.size() / 2, u'\0');
      for (std::size_t i = 0; i < units.size(); ++i) {
        const auto lo = static_cast<unsigned char>(bytes[2 * i + (utf16 == "be" ? 1 : 0)]);
        const auto hi = static_cast<unsigned char>(bytes[2 * i + (utf16 == "be" ? 0 : 1)]);
        units[i] = static_cast<char16_t>(lo | (hi << 8));
      }
      try {
        return text::utf16ToUtf8(units);
      } catch (const Error&) {
        throw invalid(KeptValueProblem::InvalidUtf16);
      }
    }
    case 'b': {
      const std::string bytes = hexBytes();
      return db::Bytes(bytes.begin(), bytes.end());
    }
    default:
      break;
  }
  throw invalid(KeptValueProblem::UnknownStorageClass);
}

}  // namespace dupsweep::sql
