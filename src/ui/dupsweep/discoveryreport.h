#pragma once
// The result of a duplicate discovery as text for the operator (the lines of the window's table)
// and as a workbook: one sheet of pairs, one of groups. No widgets.

#include <string>
#include <vector>

#include "engine/discovery.h"

namespace dupsweep {

// The pair's identical sheets by name, "资产负债表、现金流量表"; empty for none.
std::string identicalSheetsText(const DiscoveryResult& result, const DiscoveredPair& pair);
// The pair's near-copy sheets by name with their differing cells, "利润表（1格）"; empty for none.
std::string nearSheetsText(const DiscoveryResult& result, const DiscoveredPair& pair);

// The pair's rescaled sheets by name with the factor of the left unit's figures against the
// right unit's, "利润表（×1000）"; empty for none.
std::string scaledSheetsText(const DiscoveryResult& result, const DiscoveredPair& pair);

// How a side of a pair is named on its row: the unit's name, and against the earlier period the
// period with it: "甲公司 2025年" and "甲公司 2024年"; a carried-forward pair names the unit once
// with both periods on the left, "甲公司 2024年 → 2025年".
std::string pairUnitText(const DiscoveryResult& result, const DiscoveredPair& pair, Side side);

// Whether the pair's row may go to the pair list: pairs of the period with identical or near
// sheets. Rows against the earlier period and pairs only rescaled are findings to look into, not
// copies to delete.
bool isDeletablePair(const DiscoveredPair& pair);

// A near-content group's sheet with the most cells a unit differs in, "利润表（1格）".
std::string nearGroupSheetText(const DiscoveryResult& result, const DiscoveredNearGroup& group);
// What a near-content group is in the groups sheet's column 共同内容, "近似（最多相差1格）".
std::string nearGroupKindText(const DiscoveredNearGroup& group);

// The titles of the pairs sheet: 单位1, 单位1代码, 单位2, 单位2代码, 相同表数, 相同的表, 近似的表,
// 上期相同的表, 按比例相同的表.
const std::vector<std::string>& discoveryPairColumns();
// The titles of the groups sheet: 表代码, 表, 单位数, 共同内容, 单位代码, 期间 (one row for each
// unit of a group, the group's columns repeated; 期间 the period of the unit's sheet).
const std::vector<std::string>& discoveryGroupColumns();

// Writes the pairs (in rank order) to a sheet "重复数据单位" and the groups to a sheet "相同的表"
// (the near-content groups after the groups of identical content) of an xlsx workbook at `path`,
// replacing a file there; rows beyond a sheet's go on in a further sheet ("重复数据单位 (2)"...)
// below the titles again. Counts are number cells. Throws FileError
// "Unable to write to <path>: <reason>" on failure, leaving no new file.
void writeDiscoveryWorkbook(const std::string& path, const DiscoveryResult& result);

}  // namespace dupsweep
