// Typed values (comparison, display) and the row set's cursor and fields.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "platform/db/db.h"

namespace dupsweep::db {
namespace {

TEST(SameValueTest, NumbersCompareByValueAcrossKinds) {
  EXPECT_TRUE(sameValue(Decimal{"1234.50"}, Decimal{"1234.5"}));
  EXPECT_TRUE(sameValue(Decimal{"-0.00"}, Decimal{"0"}));
  EXPECT_TRUE(sameValue(Decimal{"007.10"}, Decimal{"7.1"}));
  EXPECT_FALSE(sameValue(Decimal{"1234.51"}, Decimal{"1234.5"}));
  EXPECT_FALSE(sameValue(Decimal{"-1"}, Decimal{"1"}));
  EXPECT_TRUE(sameValue(std::int64_t{5}, 5.0));
  EXPECT_FALSE(sameValue(std::int64_t{5}, 5.5));
  EXPECT_TRUE(sameValue(std::int64_t{5}, Decimal{"5.000"}));
  EXPECT_TRUE(sameValue(Decimal{"0.1"}, 0.1));
  EXPECT_FALSE(sameValue(Decimal{"0.10000000000000001"}, 0.1));
  // 2^53 + 1 has no double; the nearest double is not equal to it.
  EXPECT_FALSE(sameValue(std::int64_t{9007199254740993}, 9007199254740992.0));
  EXPECT_FALSE(sameValue(std::int64_t{std::numeric_limits<std::int64_t>::max()}, 9.3e18));
  EXPECT_FALSE(sameValue(Decimal{"1"}, std::numeric_limits<double>::infinity()));
  EXPECT_TRUE(sameValue(0.0, -0.0));
}

TEST(SameValueTest, KindsOtherThanNumbersMustMatch) {
  EXPECT_FALSE(sameValue(std::string("5"), std::int64_t{5}));
  EXPECT_FALSE(sameValue(Null{}, std::string()));
  EXPECT_TRUE(sameValue(Null{}, Null{}));
  EXPECT_FALSE(sameValue(Null{}, std::int64_t{0}));
  EXPECT_FALSE(sameValue(true, std::int64_t{1}));
  EXPECT_TRUE(sameValue(std::string("单位"), std::string("单位")));
  EXPECT_FALSE(sameValue(std::string("a"), std::string("A")));
  EXPECT_TRUE(sameValue(Bytes{0, 1, 0}, Bytes{0, 1, 0}));
  EXPECT_FALSE(sameValue(Bytes{0, 1}, Bytes{0, 1, 0}));
  EXPECT_FALSE(sameValue(Bytes{}, Null{}));
  EXPECT_TRUE(sameValue(DateTime{"2024-03-01 12:30:00"}, DateTime{"2024-03-01 12:30:00"}));
  EXPECT_FALSE(sameValue(DateTime{"2024-03-01"}, std::string("2024-03-01")));
}

TEST(DisplayTextTest, EachKind) {
  EXPECT_EQ(displayText(Null{}), "");
  EXPECT_EQ(displayText(std::int64_t{-42}), "-42");
  EXPECT_EQ(displayText(Decimal{"1234.50"}), "1234.50");
  EXPECT_EQ(displayText(0.1), "0.1");
  EXPECT_EQ(displayText(5.0), "5");
  EXPECT_EQ(displayText(1.0 / 3.0), "0.3333333333333333");
  EXPECT_EQ(displayText(6133574.18), "6133574.18");       // fixed notation for report figures
  EXPECT_EQ(displayText(1e15), "1000000000000000");
  EXPECT_EQ(displayText(1e20), "1e+20");                   // scientific beyond them
  EXPECT_EQ(displayText(-2.5e-9), "-2.5e-09");
  EXPECT_EQ(displayText(std::string("文本")), "文本");
  EXPECT_EQ(displayText(Bytes{0x00, 0xAB, 0x10}), "00AB10");
  EXPECT_EQ(displayText(DateTime{"2024-03-01 12:30:00"}), "2024-03-01 12:30:00");
  EXPECT_EQ(displayText(true), "1");
  EXPECT_EQ(displayText(false), "0");
  EXPECT_EQ(kindOf(Value{Decimal{"1"}}), ValueKind::Decimal);
  EXPECT_EQ(kindOf(Value{}), ValueKind::Null);
}

RowSet sample() {
  return RowSet(
      {"nUnitID", "sUnitName", "OleVTS", "nValue"},
      {Value{std::int64_t{1}}, Value{std::string("甲")}, Value{Bytes{0, 0}}, Value{Null{}},
       Value{std::int64_t{2}}, Value{Null{}}, Value{Null{}}, Value{std::string(" 12 ")}});
}

TEST(RowSetTest, CursorAndColumnsByIndexOrName) {
  RowSet rows = sample();
  EXPECT_EQ(rows.rowCount(), 2);
  EXPECT_EQ(rows.columnCount(), 4);
  EXPECT_EQ(rows.findColumn("SUNITNAME"), 1);
  EXPECT_EQ(rows.findColumn("nope"), -1);
  EXPECT_FALSE(rows.eof());
  EXPECT_EQ(rows.field("NUNITID").asInteger(), 1);
  EXPECT_EQ(rows.field(1).asText(), "甲");
  EXPECT_EQ(rows.field("olevts").asBytes(), (Bytes{0, 0}));
  rows.next();
  EXPECT_EQ(rows.field("nUnitID").asInteger(), 2);
  EXPECT_EQ(rows.field("nValue").asInteger(), 12);  // numeric text, blank-padded
  rows.next();
  EXPECT_TRUE(rows.eof());
  rows.next();
  EXPECT_EQ(rows.row(), 2);
  EXPECT_THROW(rows.field(0), DatabaseError);
  rows.first();
  EXPECT_EQ(rows.field(0).asInteger(), 1);
  EXPECT_THROW(rows.field(4), DatabaseError);
  EXPECT_THROW(rows.field("missing"), DatabaseError);
  EXPECT_THROW(rows.at(2, 0), DatabaseError);
  EXPECT_EQ(std::get<std::int64_t>(rows.at(1, 0)), 2);
}

TEST(RowSetTest, NullHandlingOfFields) {
  RowSet rows = sample();
  rows.next();
  const Field name = rows.field("sUnitName");
  EXPECT_TRUE(name.isNull());
  EXPECT_EQ(name.asText(), "");
  try {
    name.asTextStrict();
    FAIL();
  } catch (const DatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("sUnitName"), std::string::npos);
  }
  EXPECT_THROW(name.asInteger(), DatabaseError);
  EXPECT_THROW(rows.field("OleVTS").asBytes(), DatabaseError);
  rows.first();
  EXPECT_THROW(rows.field("sUnitName").asInteger(), DatabaseError);  // "甲" is not a number
  EXPECT_THROW(rows.field("sUnitName").asBytes(), DatabaseError);
}

TEST(RowSetTest, IntegerConversions) {
  RowSet rows({"a", "b", "c", "d", "e", "f"},
              {Value{Decimal{"12.00"}}, Value{Decimal{"12.5"}}, Value{3.0}, Value{3.5}, Value{true},
               Value{std::string("9223372036854775808")}});
  EXPECT_EQ(rows.field("a").asInteger(), 12);
  EXPECT_THROW(rows.field("b").asInteger(), DatabaseError);
  EXPECT_EQ(rows.field("c").asInteger(), 3);
  EXPECT_THROW(rows.field("d").asInteger(), DatabaseError);
  EXPECT_EQ(rows.field("e").asInteger(), 1);
  EXPECT_THROW(rows.field("f").asInteger(), DatabaseError);  // out of range
}

TEST(RowSetTest, ShapeIsChecked) {
  EXPECT_THROW(RowSet({"a", "b"}, {Value{Null{}}}), DatabaseError);
  EXPECT_THROW(RowSet({}, {Value{Null{}}}), DatabaseError);
  RowSet empty({"a"}, {});
  EXPECT_TRUE(empty.eof());
  EXPECT_EQ(empty.rowCount(), 0);
}

// One value of every kind, with texts and bytes on both sides of what a compact row set keeps in
// place (eight bytes), an embedded zero byte, and numbers that compare equal across kinds.
std::vector<Value> everyKind() {
  return {Value{},
          Value{std::int64_t{0}},
          Value{std::int64_t{-7}},
          Value{std::int64_t{9007199254740993}},
          Value{0.0},
          Value{-0.0},
          Value{2.5},
          Value{std::nan("")},
          Value{9007199254740992.0},
          Value{Decimal{"2.50"}},
          Value{Decimal{"-7"}},
          Value{Decimal{"not a number"}},
          Value{std::string()},
          Value{std::string("a")},
          Value{std::string("abc")},
          Value{std::string("2024N")},
          Value{std::string("12345678")},
          Value{std::string("123456789")},
          Value{std::string("已审核")},
          Value{std::string("a\0b", 3)},
          Value{Bytes{}},
          Value{Bytes{0, 1, 0}},
          Value{Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}},
          Value{DateTime{"2024-03-01 12:30:00"}},
          Value{true},
          Value{false}};
}

// A row set filled value by value from views, as a backend fills it.
// Rows filled in turn value by value (append, endRow) and whole (appendRow).
RowSet appended(const std::vector<std::string>& names, const std::vector<Value>& cells) {
  RowSet rows(names);
  for (std::size_t start = 0; start < cells.size(); start += names.size()) {
    if (rows.rowCount() % 2 == 1) {
      rows.appendRow([&](int c) { return viewOf(cells[start + static_cast<std::size_t>(c)]); });
      continue;
    }
    for (std::size_t c = 0; c < names.size(); ++c) rows.append(viewOf(cells[start + c]));
    rows.endRow();
  }
  return rows;
}

TEST(AppendedRowSetTest, ReadsAsTheRowSetOfItsValues) {
  const std::vector<Value> values = everyKind();
  std::vector<std::string> names;
  for (std::size_t i = 0; i < values.size(); ++i) names.push_back("c" + std::to_string(i));
  std::vector<Value> cells = values;
  cells.insert(cells.end(), values.rbegin(), values.rend());  // a second row, reversed
  const RowSet made(names, cells);
  RowSet filled = appended(names, cells);
  ASSERT_EQ(filled.rowCount(), 2);
  ASSERT_EQ(filled.columnCount(), made.columnCount());
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < made.columnCount(); ++c) {
      SCOPED_TRACE("row " + std::to_string(r) + ", column " + std::to_string(c));
      const CellView view = filled.view(r, c);
      EXPECT_EQ(view.kind, kindOf(made.at(r, c)));
      EXPECT_EQ(filled.kind(r, c), kindOf(made.at(r, c)));
      EXPECT_EQ(displayText(view), displayText(made.at(r, c)));
      EXPECT_TRUE(sameValue(view, viewOf(made.at(r, c))));
      // The fields read the views; the Values are made once a value is asked for.
      filled.first();
      if (r) filled.next();
      EXPECT_EQ(filled.field(c).isNull(), kindOf(made.at(r, c)) == ValueKind::Null);
      EXPECT_EQ(filled.field(c).asText(), displayText(made.at(r, c)));
    }
  // The kinds of a row, read at once, from both forms of row set.
  for (int r = 0; r < 2; ++r) {
    std::vector<ValueKind> packedKinds(names.size() - 1), madeKinds(names.size() - 1);
    filled.kinds(r, 1, filled.columnCount(), packedKinds.data());
    made.kinds(r, 1, made.columnCount(), madeKinds.data());
    for (std::size_t k = 0; k < packedKinds.size(); ++k) {
      EXPECT_EQ(packedKinds[k], kindOf(made.at(r, static_cast<int>(k) + 1)));
      EXPECT_EQ(madeKinds[k], packedKinds[k]);
    }
  }
  // The masks of NULLs and texts, kept for both ways of filling a row, agree with the kinds.
  ASSERT_TRUE(filled.hasMasks());
  EXPECT_FALSE(made.hasMasks());
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < made.columnCount(); ++c) {
      const ValueKind kind = kindOf(made.at(r, c));
      EXPECT_EQ((filled.nullMask(r) >> c) & 1U, kind == ValueKind::Null) << r << "," << c;
      EXPECT_EQ((filled.textMask(r) >> c) & 1U, kind == ValueKind::Text) << r << "," << c;
    }
  // Every Value, made at once from the views, equals the one the row set was filled from (a
  // NaN is compared by its kind).
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < made.columnCount(); ++c) {
      if (const auto* d = std::get_if<double>(&made.at(r, c)); d && std::isnan(*d)) continue;
      EXPECT_EQ(filled.at(r, c), made.at(r, c)) << "row " << r << ", column " << c;
    }
  // A copy reads its own bytes; a move hands them over.
  RowSet copy = filled;
  filled = RowSet({"x"});
  EXPECT_EQ(copy.view(0, 18).bytes, "已审核");
  EXPECT_EQ(copy.view(0, 19).bytes, std::string_view("a\0b", 3));
  RowSet moved(std::move(copy));
  EXPECT_EQ(moved.view(1, 8).bytes, "123456789");  // column 17 of the first row, reversed
  EXPECT_EQ(copy.rowCount(), 0);  // NOLINT(bugprone-use-after-move): the state is specified
}

TEST(AppendedRowSetTest, FillsOnlyWholeRowsOfARowSetMadeByItsColumns) {
  RowSet rows({"a", "b"});
  rows.append(viewOf(Value{std::int64_t{1}}));
  EXPECT_THROW(rows.endRow(), DatabaseError);  // one value short
  rows.append(viewOf(Value{std::int64_t{2}}));
  rows.endRow();
  EXPECT_EQ(rows.rowCount(), 1);
  RowSet made({"a"}, {Value{std::int64_t{1}}});
  EXPECT_THROW(made.append(viewOf(Value{})), DatabaseError);
  RowSet none(std::vector<std::string>{});
  EXPECT_THROW(none.append(viewOf(Value{})), DatabaseError);
  EXPECT_THROW(made.appendRow([](int) { return CellView{}; }), DatabaseError);

  // A whole row follows only whole rows; one whose values fail leaves the row set as it was.
  rows.append(viewOf(Value{std::int64_t{3}}));
  EXPECT_THROW(rows.appendRow([](int) { return CellView{}; }), DatabaseError);
  rows.append(viewOf(Value{std::int64_t{4}}));
  rows.endRow();
  const std::string longText = "more than eight bytes";
  const Value longValue{longText};
  EXPECT_THROW(rows.appendRow([&](int c) {
    if (c == 1) throw DatabaseError("the second value cannot be read");
    return viewOf(longValue);
  }),
               DatabaseError);
  ASSERT_EQ(rows.rowCount(), 2);
  rows.appendRow([&](int c) { return c == 0 ? viewOf(longValue) : CellView{}; });
  ASSERT_EQ(rows.rowCount(), 3);
  ASSERT_TRUE(rows.hasMasks());  // the rows that failed left none of theirs
  EXPECT_EQ(rows.nullMask(2), 0b10U);
  EXPECT_EQ(rows.textMask(2), 0b01U);
  // Rows of more than 64 columns keep no masks.
  RowSet wide(std::vector<std::string>(65, "c"));
  wide.appendRow([](int) { return CellView{}; });
  EXPECT_FALSE(wide.hasMasks());
  EXPECT_EQ(rows.view(1, 1).integer, 4);
  EXPECT_EQ(rows.view(2, 0).bytes, longText);
  EXPECT_EQ(rows.kind(2, 1), ValueKind::Null);
}

// The comparison of two rows value by value reads a compact row set's numbers in place: it must
// decide every pair of kinds as sameValue does, and a mixed pair of row sets likewise.
TEST(AppendedRowSetTest, RowComparisonDecidesAsSameValue) {
  const std::vector<Value> values = everyKind();
  for (const Value& a : values)
    for (const Value& b : values) {
      const bool expected = sameValue(a, b);
      const RowSet packedA = appended({"k", "v"}, {Value{}, a});
      const RowSet packedB = appended({"k", "v"}, {Value{}, b});
      const RowSet madeB({"k", "v"}, {Value{}, b});
      SCOPED_TRACE(displayText(a) + " against " + displayText(b));
      EXPECT_EQ(packedA.sameValues(0, packedB, 0, 1, 2), expected);
      EXPECT_EQ(packedA.sameValues(0, madeB, 0, 1, 2), expected);
      EXPECT_EQ(sameValue(viewOf(a), viewOf(b)), expected);
    }
  const RowSet one = appended({"a", "b", "c"}, {Value{1.5}, Value{std::int64_t{2}}, Value{}});
  const RowSet other = appended({"a", "b", "c"}, {Value{9.0}, Value{2.0}, Value{}});
  EXPECT_TRUE(one.sameValues(0, other, 0, 1, 3));
  EXPECT_FALSE(one.sameValues(0, other, 0, 0, 3));
  EXPECT_TRUE(one.sameValues(0, other, 0, 2, 2));  // no columns
  EXPECT_THROW(one.sameValues(0, other, 0, 1, 4), DatabaseError);
}

}  // namespace
}  // namespace dupsweep::db
