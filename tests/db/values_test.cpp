// Typed values (comparison, display) and the row set's cursor and fields.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

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

}  // namespace
}  // namespace dupsweep::db
