#pragma once
// The reviewers' decisions in the discovery's JSON report: every finding of every pair (each
// entry of each of its arrays: "identical", "near" and whatever kinds discovery reports) gets its
// "decision", "pending", "confirmed" or "legitimate", read from the deletion journal's file;
// findings marked legitimate (on rows that have not changed since) are left out unless `all`.

#include <QJsonObject>
#include <cstdint>
#include <string>

#include "data/dmdupsweep.h"
#include "engine/discovery.h"

namespace dupsweep::scan {

// `root` is the report of `result` as discoveryJson makes it: its "pairs" in the result's order.
// Throws Error saying why when the journal cannot be read, DatabaseError when rows cannot.
void addDecisions(QJsonObject& root, TdmDupsweep& dm, const DiscoveryResult& result,
                  const std::string& taskCode, std::int32_t level, bool all);

}  // namespace dupsweep::scan
