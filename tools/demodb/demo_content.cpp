// Content of the demonstration database and of scaled databases.
//
// Demonstration database (default; the seed changes the figures only):
//   unit classification "01" (three levels: nLevel 0 = 3 regions "01".."03", nLevel 1 = 12
//   branches "0101".."0304", nLevel 2 = 48 offices "010101".."030404"), and classification "02"
//   with 6 units of its own ("91", "92", "9101", "9102", "9201", "9202") plus office 010101
//   filed under "91" as well. Task "T01", sample level 1.
//
//   Periods of task T01, level 1 (nPeriodType; sheets; template; data):
//     2023N    "2023年"          1; B01..B08, ^B09; 9 sheets, bUseTarget 0; planted data
//     2024N    "2024年"          1; B01..B08, ^B09; 9 sheets, bUseTarget 1 -> tables *_2024;
//                                   planted data
//     2022N    NULL               1; B01..B08, ^B09; 9 sheets; no data
//     2024Q    "2024年第一季度"  2; B01..B03; 3 sheets; random data, nothing planted
//     202403M  "2024年3月"       3; B01..B02; 2 sheets; no data
//     202402M  "2024年2月"       3; B01..B02; no SampleTableVts row (no template); no data
//     2024031X "2024年3月上旬"   4; B01; 1 sheet; no data
//     202410W  "2024年第10周"    5; B01; 1 sheet; no data
//     20240301 "2024年3月1日"    6; B01; 1 sheet; no data
//     0000N    "模板期间"       -1; B01..B08, ^B09; 9 sheets; no data (never listed)
//     9999N    "作废期间"       -2; B01..B03; 3 sheets; no data (never listed)
//   2023N and 2024N also have a non-base SampleTableVts row (bIsBaseSample 0, the opposite
//   bUseTarget, OleVTS NULL) that every statement must pass over.
//
//   Sample tables: B01 资产负债表, B02 利润表, B03 现金流量表, B04 所有者权益变动表,
//   B05 应交税费明细表, B06 固定资产明细表, B07 职工薪酬情况表, B08 主要经济指标表, and
//   ^B09 审核说明表 (sheet 9 of the workbook; left out of the sample listing; no data table).
//   Data rows use nRow 4 onwards; figure columns sF1 (A) and sF2 (B) are the template's row
//   labels and stay NULL; values fill nF3/sF3 (C) onwards, the number giving the column.
//
//   Planted cases (periods 2023N and 2024N; unit A / unit B):
//     whole duplicate   010101 上海浦东营业部 / 010102 上海徐汇营业部   all sheets
//     whole duplicate   020103 北京东城营业部 / 030203 重庆南岸营业部   all sheets
//     some sheets       010201 南京鼓楼营业部 / 010202 南京玄武营业部   same on B01 B03 B05
//     one cell          020201 天津和平营业部 / 020202 天津河西营业部   B02 D6: B = A + 100
//     letter case       020301 石家庄长安营业部 / 020302 石家庄桥西营业部 B04 G5 "abc"/"ABC"
//     trailing blank    030101 成都锦江营业部 / 030102 成都青羊营业部   B06 F5 "abc"/"abc "
//     NULL versus 0     030201 重庆渝中营业部 / 030202 重庆江北营业部   B07 E7 NULL/0
//     fewer rows        010301 杭州西湖营业部 / 010302 杭州拱墅营业部   B03: B lacks nRow 11
//     shifted row       030301 昆明五华营业部 / 030302 昆明盘龙营业部   same on B08 only, by
//                       position; A's last row is nRow 8, B's nRow 7
//     same name         010304 开发区营业部 (under 0103) / 030104 开发区营业部 (under 0301)
//                       same on B02 B07
//     no data           030404 贵阳乌当营业部: no data rows, no Status row
//   The near duplicates (one cell, letter case, trailing blank, NULL versus 0, fewer rows) are
//   identical on every other sheet. Every other pair of units differs on every sheet.
//
//   Planted findings (not copies to delete; unit A / unit B):
//     carried forward   010103 上海静安营业部: its 2024N sheets are its 2023N sheets
//     copied earlier    020104 / 020102: 020104's 2024N sheets are 020102's 2023N sheets
//     thousand yuan     030303 / 010104: 030303's B01 B02 are 010104's in thousand yuan
//                       (2023N and 2024N), rounded to two decimals
//     ten thousand yuan 020204 / 020203: 020204's B03 is 020203's in ten thousand yuan
//                       (2023N and 2024N), rounded to two decimals
//
// Scaled database (--units/--sheets/--rows/--cols): classification "01" in two levels, task
// "T01", level 1, the one period 2024N "2024年", samples B01.. named 样表01.., rows from nRow 4,
// every unit with figures on every sheet; max(1, units / 50) planted pairs of neighbouring
// level-1 units spread evenly in code order: even pairs identical on all sheets, odd pairs on
// the first half of the sheets. describePlan lists them.

#include "demo_content.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>

namespace dupsweep::demodb::detail {
namespace {

const std::vector<std::string> kRemarks = {
    "", "", "", "", "", "已审核", "待复核", "无", "数据来源：财务系统"};

FigureColumn amount(std::string header) {
  return {std::move(header), ColumnKind::Amount, {}};
}
FigureColumn count(std::string header) {
  return {std::move(header), ColumnKind::Count, {}};
}
FigureColumn ratio(std::string header) {
  return {std::move(header), ColumnKind::Ratio, {}};
}
FigureColumn text(std::string header, std::vector<std::string> texts) {
  return {std::move(header), ColumnKind::Text, std::move(texts)};
}

std::vector<SampleLayout> demoSamples() {
  std::vector<SampleLayout> s;
  s.push_back({"B01",
               "资产负债表",
               {"货币资金", "应收账款", "存货", "流动资产合计", "固定资产", "无形资产", "资产总计",
                "流动负债合计", "非流动负债合计", "负债合计", "所有者权益合计"},
               {amount("期末余额"), amount("年初余额"), text("备注", kRemarks)}});
  s.push_back(
      {"B02",
       "利润表",
       {"营业收入", "营业成本", "税金及附加", "销售费用", "管理费用", "财务费用", "营业利润",
        "利润总额", "所得税费用", "净利润"},
       {amount("本期金额"), amount("上期金额"), amount("本年累计"), text("备注", kRemarks)}});
  s.push_back({"B03",
               "现金流量表",
               {"经营活动现金流入", "经营活动现金流出", "经营活动现金净额", "投资活动现金流入",
                "投资活动现金流出", "投资活动现金净额", "筹资活动现金净额", "现金净增加额"},
               {amount("本期金额"), amount("上期金额")}});
  s.push_back({"B04",
               "所有者权益变动表",
               {"实收资本", "资本公积", "盈余公积", "未分配利润", "所有者权益合计"},
               {amount("年初余额"), amount("本年增加"), amount("本年减少"), amount("年末余额"),
                text("说明", {"", "", "本年无变动", "已调整", "见附注"})}});
  s.push_back(
      {"B05",
       "应交税费明细表",
       {"增值税", "企业所得税", "个人所得税", "城市维护建设税", "教育费附加", "印花税", "合计"},
       {amount("期初未交"), amount("本期应交"), amount("本期已交"), amount("期末未交")}});
  s.push_back({"B06",
               "固定资产明细表",
               {"房屋及建筑物", "机器设备", "运输工具", "电子设备", "其他", "合计"},
               {amount("原值"), amount("累计折旧"), amount("净值"),
                text("使用状态", {"在用", "在用", "闲置", "报废", "在建"})}});
  s.push_back({"B07",
               "职工薪酬情况表",
               {"管理人员", "技术人员", "生产人员", "销售人员", "其他人员", "合计"},
               {count("人数"), amount("工资总额"), amount("社会保险费"), amount("住房公积金")}});
  s.push_back({"B08",
               "主要经济指标表",
               {"资产负债率(%)", "净资产收益率(%)", "总资产周转率(次)", "成本费用利润率(%)",
                "人均营业收入(万元)"},
               {ratio("本年"), ratio("上年"), ratio("增减"),
                text("指标说明", {"", "按年度口径计算", "含非经常性损益"})}});
  SampleLayout check{"^B09",
                     "审核说明表",
                     {"表内审核", "表间审核", "跨期审核", "人工复核"},
                     {text("审核结果", {"通过"}), text("说明", {""})}};
  check.hasDataTable = false;
  s.push_back(std::move(check));
  return s;
}

struct OfficeNames {
  const char* branchCode;
  const char* branchName;
  std::vector<const char*> offices;
};

void addUnit(Content& c, const std::string& cls, int level, std::optional<std::string> parent,
             const std::string& code, const std::string& name) {
  const int id = static_cast<int>(c.units.size()) + 1;
  c.units.push_back({id, name});
  c.classRows.push_back({cls, id, level, std::move(parent), code});
}

int unitIdOf(const Content& c, const std::string& cls, const std::string& code) {
  for (const ClassRow& r : c.classRows)
    if (r.cls == cls && r.code == code) return r.unitId;
  throw std::logic_error("unknown unit " + code);
}

void collectDataUnits(Content& c) {
  for (const ClassRow& r : c.classRows) {
    if (r.code == c.noDataUnit) continue;
    if (std::find(c.dataUnits.begin(), c.dataUnits.end(), r.code) == c.dataUnits.end())
      c.dataUnits.push_back(r.code);
  }
}

std::vector<std::string> allSheetCodes(const Content& c, const PeriodDef& p) {
  std::vector<std::string> codes;
  for (int i : p.samples)
    if (c.samples[i].hasDataTable) codes.push_back(c.samples[i].code);
  return codes;
}

// A planted rule must point at a cell of the kind it edits; a mistake here would plant
// nothing and go unnoticed until a demo shows no difference.
void checkRule(const Content& c, const PlantRule& rule) {
  // A rescaled copy scales every number: its sheets may hold amounts and texts only.
  if (rule.scaleExponent != 0)
    for (const SampleLayout& s : c.samples)
      if (std::find(rule.copiedSheets.begin(), rule.copiedSheets.end(), s.code) !=
          rule.copiedSheets.end())
        for (const FigureColumn& column : s.columns)
          if (column.kind != ColumnKind::Amount && column.kind != ColumnKind::Text)
            throw std::logic_error("rescaled sheet " + s.code + " holds other numbers");
  if (rule.edit != Edit::AddToB && rule.edit != Edit::SetBoth) return;
  for (const SampleLayout& s : c.samples) {
    if (s.code != rule.editSheet) continue;
    const int index = rule.editColumn - 1 - kLabelColumns;
    const int rowIndex = rule.editRow - kFirstDataRow;
    if (index < 0 || index >= static_cast<int>(s.columns.size()) || rowIndex < 0 ||
        rowIndex >= static_cast<int>(s.rowLabels.size()))
      throw std::logic_error("planted cell outside sheet " + s.code);
    const ColumnKind kind = s.columns[index].kind;
    const bool wantsText = std::holds_alternative<std::string>(rule.valueB);
    if (rule.edit == Edit::AddToB && kind != ColumnKind::Amount)
      throw std::logic_error("planted sum on a non-amount cell of " + s.code);
    if (wantsText != (kind == ColumnKind::Text))
      throw std::logic_error("planted value of the wrong kind on " + s.code);
    return;
  }
  throw std::logic_error("planted sheet " + rule.editSheet + " unknown");
}

std::string pad(int value, int width) {
  std::string digits = std::to_string(value);
  if (static_cast<int>(digits.size()) < width)
    digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
  return digits;
}

int digitsOf(int value) {
  return static_cast<int>(std::to_string(value).size());
}

// Draws exactly two numbers from `rng` per cell (whether it is NULL, and its value), so a
// scaled database's generation stays cheap.
Value randomValue(std::mt19937& rng, const FigureColumn& column, std::uint32_t nullThreshold) {
  const bool isNull = rng() < nullThreshold;
  switch (column.kind) {
    case ColumnKind::Amount: {
      const std::uint32_t cents =
          std::uniform_int_distribution<std::uint32_t>(0, 4'000'000'000U)(rng);
      if (isNull) return {};
      return static_cast<double>(cents) / 100.0;
    }
    case ColumnKind::Count: {
      const std::int64_t n = std::uniform_int_distribution<std::int64_t>(0, 2000)(rng);
      if (isNull) return {};
      return n;
    }
    case ColumnKind::Ratio: {
      const std::int64_t hundredths =
          std::uniform_int_distribution<std::int64_t>(-5000, 10000)(rng);
      if (isNull) return {};
      return static_cast<double>(hundredths) / 100.0;
    }
    case ColumnKind::Text: {
      const std::string& t =
          column.texts[std::uniform_int_distribution<size_t>(0, column.texts.size() - 1)(rng)];
      if (t.empty()) return {};
      return t;
    }
  }
  return {};
}

std::vector<DataRow> generate(const Content& c, std::uint32_t seed, int periodIndex,
                              int sampleIndex, int ordinal) {
  const SampleLayout& sample = c.samples[sampleIndex];
  std::seed_seq seq{seed, static_cast<std::uint32_t>(periodIndex),
                    static_cast<std::uint32_t>(sampleIndex), static_cast<std::uint32_t>(ordinal)};
  std::mt19937 rng(seq);
  const auto nullThreshold = static_cast<std::uint32_t>(c.nullShare * 4294967296.0);
  std::vector<DataRow> rows(sample.rowLabels.size());
  for (size_t r = 0; r < rows.size(); ++r) {
    rows[r].nRow = kFirstDataRow + static_cast<int>(r);
    rows[r].values.reserve(sample.columns.size());
    for (const FigureColumn& column : sample.columns)
      rows[r].values.push_back(randomValue(rng, column, nullThreshold));
  }
  return rows;
}

void applyEdit(const PlantRule& rule, bool sideB, std::vector<DataRow>& rows) {
  const size_t index = static_cast<size_t>(rule.editColumn - 1 - kLabelColumns);
  auto cell = [&]() -> Value& {
    for (DataRow& row : rows)
      if (row.nRow == rule.editRow) return row.values.at(index);
    throw std::logic_error("planted row missing");
  };
  switch (rule.edit) {
    case Edit::None:
      break;
    case Edit::AddToB: {
      Value& v = cell();
      if (std::holds_alternative<std::monostate>(v)) v = rule.valueA;
      if (sideB) v = std::get<double>(v) + std::get<double>(rule.valueB);
      break;
    }
    case Edit::SetBoth:
      cell() = sideB ? rule.valueB : rule.valueA;
      break;
    case Edit::DropLastOfB:
      if (sideB && !rows.empty()) rows.pop_back();
      break;
    case Edit::ShiftLastOfB:
      if (rows.size() >= 2) {
        const int freed = rows[rows.size() - 2].nRow;
        rows.erase(rows.end() - 2);
        if (sideB) rows.back().nRow = freed;
      }
      break;
  }
}

// Every amount times 10^exponent, rounded half away from zero to two decimals, worked out on
// whole cents so that no floating-point rounding decides a digit.
void applyScale(int exponent, std::vector<DataRow>& rows) {
  for (DataRow& row : rows)
    for (Value& v : row.values) {
      if (!std::holds_alternative<double>(v)) continue;
      std::int64_t cents = std::llround(std::get<double>(v) * 100.0);
      const bool negative = cents < 0;
      if (negative) cents = -cents;
      std::int64_t scaled = cents;
      if (exponent >= 0) {
        for (int i = 0; i < exponent; ++i) scaled *= 10;
      } else {
        std::int64_t divisor = 1;
        for (int i = 0; i < -exponent; ++i) divisor *= 10;
        scaled = cents / divisor + ((cents % divisor) * 2 >= divisor ? 1 : 0);
      }
      v = static_cast<double>(negative ? -scaled : scaled) / 100.0;
    }
}

std::string cellName(int column, int row) {
  return std::string(1, static_cast<char>('A' + column - 1)) + std::to_string(row);
}

std::string join(const std::vector<std::string>& items, const char* separator) {
  std::string out;
  for (const std::string& s : items) {
    if (!out.empty()) out += separator;
    out += s;
  }
  return out;
}

}  // namespace

Content demoContent() {
  Content c;
  c.samples = demoSamples();

  // Classification 01: regions, branches, offices. The two offices named 开发区营业部 sit
  // under different branches.
  const std::vector<std::pair<const char*, const char*>> regions = {
      {"01", "华东区公司"}, {"02", "华北区公司"}, {"03", "西南区公司"}};
  const std::vector<OfficeNames> branches = {
      {"0101",
       "上海分公司",
       {"上海浦东营业部", "上海徐汇营业部", "上海静安营业部", "上海闵行营业部"}},
      {"0102",
       "南京分公司",
       {"南京鼓楼营业部", "南京玄武营业部", "南京建邺营业部", "南京江宁营业部"}},
      {"0103",
       "杭州分公司",
       {"杭州西湖营业部", "杭州拱墅营业部", "杭州滨江营业部", "开发区营业部"}},
      {"0104",
       "合肥分公司",
       {"合肥蜀山营业部", "合肥包河营业部", "合肥庐阳营业部", "合肥瑶海营业部"}},
      {"0201",
       "北京分公司",
       {"北京朝阳营业部", "北京海淀营业部", "北京东城营业部", "北京丰台营业部"}},
      {"0202",
       "天津分公司",
       {"天津和平营业部", "天津河西营业部", "天津南开营业部", "天津滨海营业部"}},
      {"0203",
       "石家庄分公司",
       {"石家庄长安营业部", "石家庄桥西营业部", "石家庄新华营业部", "石家庄裕华营业部"}},
      {"0204",
       "太原分公司",
       {"太原迎泽营业部", "太原杏花岭营业部", "太原小店营业部", "太原晋源营业部"}},
      {"0301",
       "成都分公司",
       {"成都锦江营业部", "成都青羊营业部", "成都武侯营业部", "开发区营业部"}},
      {"0302",
       "重庆分公司",
       {"重庆渝中营业部", "重庆江北营业部", "重庆南岸营业部", "重庆沙坪坝营业部"}},
      {"0303",
       "昆明分公司",
       {"昆明五华营业部", "昆明盘龙营业部", "昆明官渡营业部", "昆明西山营业部"}},
      {"0304",
       "贵阳分公司",
       {"贵阳南明营业部", "贵阳云岩营业部", "贵阳花溪营业部", "贵阳乌当营业部"}},
  };
  for (const auto& [code, name] : regions) addUnit(c, "01", 0, std::nullopt, code, name);
  for (const OfficeNames& b : branches)
    addUnit(c, "01", 1, std::string(b.branchCode).substr(0, 2), b.branchCode, b.branchName);
  for (const OfficeNames& b : branches)
    for (size_t i = 0; i < b.offices.size(); ++i)
      addUnit(c, "01", 2, std::string(b.branchCode), b.branchCode + pad(int(i) + 1, 2),
              b.offices[i]);

  // Classification 02, by trade: units of its own, and one office of classification 01 filed
  // here too under the same code.
  addUnit(c, "02", 0, std::nullopt, "91", "工业企业汇总");
  addUnit(c, "02", 0, std::nullopt, "92", "服务业企业汇总");
  addUnit(c, "02", 1, std::string("91"), "9101", "机械制造厂");
  addUnit(c, "02", 1, std::string("91"), "9102", "纺织厂");
  addUnit(c, "02", 1, std::string("92"), "9201", "物流公司");
  addUnit(c, "02", 1, std::string("92"), "9202", "酒店管理公司");
  c.classRows.push_back({"02", unitIdOf(c, "01", "010101"), 1, std::string("91"), "010101"});

  c.noDataUnit = "030404";
  collectDataUnits(c);

  // Sample indexes: 0..7 = B01..B08, 8 = ^B09.
  const std::vector<int> annual = {0, 1, 2, 3, 4, 5, 6, 7, 8};
  auto period = [&](std::string id, std::optional<std::string> name, int type,
                    std::vector<int> samples, std::optional<int> useTarget) {
    PeriodDef p;
    p.id = std::move(id);
    p.name = std::move(name);
    p.type = type;
    p.samples = std::move(samples);
    p.useTarget = useTarget;
    c.periods.push_back(std::move(p));
    return &c.periods.back();
  };
  c.periods.reserve(11);
  PeriodDef* p2023 = period("2023N", "2023年", 1, annual, 0);
  p2023->hasData = p2023->planted = p2023->extraTemplateRow = true;
  PeriodDef* p2024 = period("2024N", "2024年", 1, annual, 1);
  p2024->hasData = p2024->planted = p2024->extraTemplateRow = true;
  period("2022N", std::nullopt, 1, annual, 0);
  period("2024Q", "2024年第一季度", 2, {0, 1, 2}, 0)->hasData = true;
  period("202403M", "2024年3月", 3, {0, 1}, 0);
  period("202402M", "2024年2月", 3, {0, 1}, std::nullopt);
  period("2024031X", "2024年3月上旬", 4, {0}, 0);
  period("202410W", "2024年第10周", 5, {0}, 0);
  period("20240301", "2024年3月1日", 6, {0}, 0);
  period("0000N", "模板期间", -1, annual, 0);
  period("9999N", "作废期间", -2, {0, 1, 2}, 0);

  const std::vector<std::string> all = allSheetCodes(c, c.periods[0]);
  auto rule = [&](CaseKind kind, std::string a, std::string b, std::vector<std::string> copied) {
    PlantRule r;
    r.kind = kind;
    r.unitA = std::move(a);
    r.unitB = std::move(b);
    r.copiedSheets = std::move(copied);
    c.rules.push_back(std::move(r));
    return &c.rules.back();
  };
  c.rules.reserve(14);
  rule(CaseKind::WholeDuplicate, "010101", "010102", all);
  rule(CaseKind::WholeDuplicate, "020103", "030203", all);
  rule(CaseKind::SomeSheets, "010201", "010202", {"B01", "B03", "B05"});
  auto edit = [](PlantRule* r, std::string sheet, Edit how, int row = 0, int column = 0,
                 Value a = {}, Value b = {}) {
    r->editSheet = std::move(sheet);
    r->edit = how;
    r->editRow = row;
    r->editColumn = column;
    r->valueA = std::move(a);
    r->valueB = std::move(b);
  };
  edit(rule(CaseKind::OneCell, "020201", "020202", all), "B02", Edit::AddToB, 6, 4, 5000.0, 100.0);
  edit(rule(CaseKind::LetterCase, "020301", "020302", all), "B04", Edit::SetBoth, 5, 7,
       std::string("abc"), std::string("ABC"));
  edit(rule(CaseKind::TrailingBlank, "030101", "030102", all), "B06", Edit::SetBoth, 5, 6,
       std::string("abc"), std::string("abc "));
  edit(rule(CaseKind::NullVersusZero, "030201", "030202", all), "B07", Edit::SetBoth, 7, 5,
       std::monostate{}, std::int64_t{0});
  edit(rule(CaseKind::FewerRows, "010301", "010302", all), "B03", Edit::DropLastOfB);
  edit(rule(CaseKind::ShiftedRow, "030301", "030302", {"B08"}), "B08", Edit::ShiftLastOfB);
  rule(CaseKind::SameName, "010304", "030104", {"B02", "B07"});
  rule(CaseKind::CarriedForward, "010103", "010103", all)->sourcePeriod = "2023N";
  rule(CaseKind::CopiedEarlier, "020102", "020104", all)->sourcePeriod = "2023N";
  for (PlantRule* r : {&c.rules[c.rules.size() - 2], &c.rules.back()}) r->period = "2024N";
  rule(CaseKind::Rescaled, "010104", "030303", {"B01", "B02"})->scaleExponent = -3;
  rule(CaseKind::Rescaled, "020203", "020204", {"B03"})->scaleExponent = -4;
  for (const PlantRule& each : c.rules) checkRule(c, each);
  return c;
}

Content scaledContent(const ScaleOptions& scale) {
  Content c;
  c.nullShare = 0.02;
  const int sheetWidth = std::max(2, digitsOf(scale.sheets));
  for (int s = 1; s <= scale.sheets; ++s) {
    SampleLayout layout;
    layout.code = "B" + pad(s, sheetWidth);
    layout.name = "样表" + pad(s, sheetWidth);
    for (int r = 1; r <= scale.rows; ++r) layout.rowLabels.push_back("项目" + std::to_string(r));
    for (int k = 1; k <= scale.cols; ++k) {
      const std::string header = "栏目" + std::to_string(k);
      if (k == scale.cols && scale.cols >= 2)
        layout.columns.push_back(text(header, {"", "", "已审核", "待复核", "无"}));
      else if (k % 4 == 3)
        layout.columns.push_back(count(header));
      else
        layout.columns.push_back(amount(header));
    }
    c.samples.push_back(std::move(layout));
  }

  // A shallow tree: about sqrt(units) top-level units, the rest spread over them.
  const int tops = std::max(
      1, std::min(scale.units,
                  static_cast<int>(std::ceil(std::sqrt(static_cast<double>(scale.units))))));
  const int children = scale.units - tops;
  const int perTop = (children + tops - 1) / tops;
  const int topWidth = std::max(2, digitsOf(tops));
  const int childWidth = std::max(2, digitsOf(std::max(1, perTop)));
  const int nameWidth = std::max(4, digitsOf(scale.units));
  std::vector<ClassRow> topRows;
  std::vector<std::vector<ClassRow>> childRows(static_cast<size_t>(tops));
  for (int i = 0; i < scale.units; ++i) {
    const int id = i + 1;
    c.units.push_back({id, "测试单位" + pad(id, nameWidth)});
    if (i < tops) {
      topRows.push_back({"01", id, 0, std::nullopt, pad(i + 1, topWidth)});
    } else {
      auto& siblings = childRows[static_cast<size_t>((i - tops) % tops)];
      const std::string& parent = topRows[static_cast<size_t>((i - tops) % tops)].code;
      const int number = static_cast<int>(siblings.size()) + 1;
      siblings.push_back({"01", id, 1, parent, parent + pad(number, childWidth)});
    }
  }
  // Units in code order: each top-level unit followed by its children.
  for (size_t t = 0; t < topRows.size(); ++t) {
    c.classRows.push_back(topRows[t]);
    c.classRows.insert(c.classRows.end(), childRows[t].begin(), childRows[t].end());
  }
  collectDataUnits(c);

  PeriodDef p;
  p.id = "2024N";
  p.name = "2024年";
  p.type = 1;
  for (int s = 0; s < scale.sheets; ++s) p.samples.push_back(s);
  p.useTarget = 0;
  p.hasData = p.planted = true;
  c.periods.push_back(p);
  if (scale.earlierPeriod) {
    p.id = "2023N";
    p.name = "2023年";
    p.planted = false;
    c.periods.push_back(std::move(p));
  }

  const std::vector<std::string> all = allSheetCodes(c, c.periods[0]);
  // Pairs of neighbouring units one level down (siblings but where a pair straddles two
  // parents), or of any units when there are too few of those.
  std::vector<std::string> candidates;
  for (const ClassRow& r : c.classRows)
    if (r.level > 0) candidates.push_back(r.code);
  if (candidates.size() < 2) candidates = c.dataUnits;
  const int available = static_cast<int>(candidates.size()) / 2;
  const int pairs = std::min(available, std::max(1, scale.units / 50));
  const int step = pairs > 0 ? static_cast<int>(candidates.size()) / pairs : 0;
  for (int i = 0; i < pairs; ++i) {
    PlantRule rule;
    rule.unitA = candidates[static_cast<size_t>(i * step)];
    rule.unitB = candidates[static_cast<size_t>(i * step + 1)];
    if (i % 2 == 0 || all.size() < 2) {
      rule.kind = CaseKind::WholeDuplicate;
      rule.copiedSheets = all;
    } else {
      rule.kind = CaseKind::SomeSheets;
      rule.copiedSheets.assign(all.begin(), all.begin() + static_cast<long>((all.size() + 1) / 2));
    }
    c.rules.push_back(std::move(rule));
  }
  return c;
}

std::string dataTableName(const Content& content, const PeriodDef& period,
                          const SampleLayout& sample, const std::string& stem) {
  std::string name =
      stem + content.taskCode + "_" + sample.code + "_" + std::to_string(content.sampleLevel);
  if (period.useTarget == 1) name += "_" + period.id.substr(0, 4);
  return name;
}

std::string unitName(const Content& content, const std::string& code) {
  for (const ClassRow& r : content.classRows)
    if (r.code == code)
      for (const UnitDef& u : content.units)
        if (u.id == r.unitId) return u.name;
  return {};
}

std::vector<DataRow> unitRows(const Content& content, std::uint32_t seed, int periodIndex,
                              int sampleIndex, const std::string& unitCode,
                              const std::map<std::string, int>& ordinals) {
  const PeriodDef& period = content.periods[static_cast<size_t>(periodIndex)];
  const SampleLayout& sample = content.samples[static_cast<size_t>(sampleIndex)];
  std::string source = unitCode;
  int sourcePeriod = periodIndex;
  int scale = 0;
  std::vector<const PlantRule*> edits;
  if (period.planted) {
    for (const PlantRule& rule : content.rules) {
      if (!rule.period.empty() && rule.period != period.id) continue;
      const bool copied = std::find(rule.copiedSheets.begin(), rule.copiedSheets.end(),
                                    sample.code) != rule.copiedSheets.end();
      if (rule.unitB == unitCode && copied) {
        source = rule.unitA;
        scale = rule.scaleExponent;
        for (std::size_t i = 0; i < content.periods.size(); ++i)
          if (!rule.sourcePeriod.empty() && content.periods[i].id == rule.sourcePeriod)
            sourcePeriod = static_cast<int>(i);
      }
      if (rule.edit != Edit::None && rule.editSheet == sample.code &&
          (rule.unitA == unitCode || rule.unitB == unitCode))
        edits.push_back(&rule);
    }
  }
  std::vector<DataRow> rows =
      generate(content, seed, sourcePeriod, sampleIndex, ordinals.at(source));
  if (scale != 0) applyScale(scale, rows);
  for (const PlantRule* rule : edits) applyEdit(*rule, rule->unitB == unitCode, rows);
  return rows;
}

DemoPlan planOf(const Content& content) {
  DemoPlan plan;
  plan.unitClsCode = content.unitClsCode;
  plan.taskCode = content.taskCode;
  plan.sampleLevel = content.sampleLevel;
  const PeriodDef* planted = nullptr;
  for (const PeriodDef& p : content.periods) {
    if (!p.planted) continue;
    plan.plantedPeriods.push_back(p.id);
    if (!planted) planted = &p;
  }
  if (planted)
    for (int i : planted->samples) {
      const std::string& code = content.samples[static_cast<size_t>(i)].code;
      if (code.rfind('^', 0) != 0) plan.sampleCodes.push_back(code);
    }

  for (const PlantRule& rule : content.rules) {
    if (rule.kind == CaseKind::CarriedForward || rule.kind == CaseKind::CopiedEarlier ||
        rule.kind == CaseKind::Rescaled) {
      // Named as discovery names them: A the unit of the period, B the unit it was copied from.
      PlantedFinding f;
      f.kind = rule.kind;
      f.unitA = rule.unitB;
      f.nameA = unitName(content, rule.unitB);
      f.unitB = rule.unitA;
      f.nameB = unitName(content, rule.unitA);
      f.period = rule.period;
      f.earlierPeriod = rule.sourcePeriod;
      f.sheets = rule.copiedSheets;
      f.exponent = rule.scaleExponent;
      f.detail = rule.kind == CaseKind::Rescaled
                     ? std::string("A's amounts are B's in ") +
                           (rule.scaleExponent == -3 ? "thousand" : "ten thousand") +
                           " yuan, rounded to two decimals, in every planted period"
                     : "A's sheets of " + rule.period + " are B's of " + rule.sourcePeriod;
      plan.findings.push_back(std::move(f));
      continue;
    }
    PlantedCase pc;
    pc.kind = rule.kind;
    pc.unitA = rule.unitA;
    pc.nameA = unitName(content, rule.unitA);
    pc.unitB = rule.unitB;
    pc.nameB = unitName(content, rule.unitB);
    const bool editBreaksSheet = rule.edit != Edit::None && rule.edit != Edit::ShiftLastOfB;
    for (const std::string& code : plan.sampleCodes) {
      const bool copied = std::find(rule.copiedSheets.begin(), rule.copiedSheets.end(), code) !=
                          rule.copiedSheets.end();
      const bool same = copied && !(editBreaksSheet && code == rule.editSheet);
      (same ? pc.sameSheets : pc.differentSheets).push_back(code);
    }
    auto lastRow = [&](const std::string& code) {
      for (const SampleLayout& s : content.samples)
        if (s.code == code) return kFirstDataRow + static_cast<int>(s.rowLabels.size()) - 1;
      return 0;
    };
    const std::string column = [&] {
      for (const SampleLayout& s : content.samples)
        if (s.code == rule.editSheet && rule.editColumn > kLabelColumns) {
          const auto& f = s.columns.at(static_cast<size_t>(rule.editColumn - 1 - kLabelColumns));
          return std::string(f.kind == ColumnKind::Text ? "sF" : "nF") +
                 std::to_string(rule.editColumn);
        }
      return std::string();
    }();
    const std::string at = rule.editSheet + " cell " + cellName(rule.editColumn, rule.editRow) +
                           " (nRow " + std::to_string(rule.editRow) + ", column " + column + ")";
    switch (rule.kind) {
      case CaseKind::WholeDuplicate:
        pc.detail = "identical on every sheet";
        break;
      case CaseKind::SomeSheets:
      case CaseKind::SameName:
        pc.detail = "identical on " + join(pc.sameSheets, ", ") + " only";
        break;
      case CaseKind::OneCell:
        pc.detail = at + ": B's number is A's plus 100";
        break;
      case CaseKind::LetterCase:
      case CaseKind::TrailingBlank:
        pc.detail = at + ": \"" + std::get<std::string>(rule.valueA) + "\" / \"" +
                    std::get<std::string>(rule.valueB) + "\"";
        break;
      case CaseKind::NullVersusZero:
        pc.detail = at + ": NULL / 0";
        break;
      case CaseKind::FewerRows:
        pc.detail = rule.editSheet + ": B lacks A's last row (nRow " +
                    std::to_string(lastRow(rule.editSheet)) + ")";
        break;
      case CaseKind::ShiftedRow:
        pc.detail = rule.editSheet + ": same figures row by row, but A's last row is nRow " +
                    std::to_string(lastRow(rule.editSheet)) + " and B's is nRow " +
                    std::to_string(lastRow(rule.editSheet) - 1);
        break;
      case CaseKind::NoData:
      case CaseKind::CarriedForward:
      case CaseKind::CopiedEarlier:
      case CaseKind::Rescaled:
        break;
    }
    if (rule.kind == CaseKind::SameName) {
      pc.detail = "both named " + pc.nameA + " under different parents; " + pc.detail;
    }
    plan.cases.push_back(std::move(pc));
  }
  if (!content.noDataUnit.empty()) {
    PlantedCase pc;
    pc.kind = CaseKind::NoData;
    pc.unitA = content.noDataUnit;
    pc.nameA = unitName(content, content.noDataUnit);
    pc.detail = "no row in any data table and no Status row";
    plan.cases.push_back(std::move(pc));
  }
  return plan;
}

}  // namespace dupsweep::demodb::detail
