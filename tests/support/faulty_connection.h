#pragma once
// A connection wrapper for tests: it passes statements to a real connection, records them, and
// on request fails the n-th statement, drops the connection from the n-th statement on, or
// reports a busy database. TdmDupsweep takes it through its connection factory:
//
//   auto faults = std::make_shared<Faults>();
//   TdmDupsweep dm(faultyFactory(faults));
//   faults->failAt = 2;   // the second statement from now fails

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/db/db.h"
#include "platform/db/forwarding_connection.h"

namespace dupsweep::testing {

inline DatabaseError linkFailure() {
  return DatabaseError("Communication link failure", "08S01", DatabaseError::Kind::LinkLost);
}

struct Faults {
  enum class Kind { Error, Dropped, Busy, OutOfMemory };
  int failAt = 0;          // 1-based number of the statement that fails (0: none)
  Kind kind = Kind::Error;
  bool failOpen = false;   // opening the connection fails
  int statements = 0;      // statements seen so far (queries and executions)
  int opens = 0;           // connections opened
  std::vector<std::string> texts;  // every statement seen, in order

  // Fails the statement `n` statements from now.
  void failNext(int n, Kind k = Kind::Error) {
    failAt = statements + n;
    kind = k;
  }
};

class FaultyConnection : public db::ForwardingConnection {
 public:
  FaultyConnection(std::unique_ptr<db::Connection> inner, std::shared_ptr<Faults> faults)
      : ForwardingConnection(std::move(inner)), faults_(std::move(faults)) {}

  std::unique_ptr<db::RowSet> query(std::string_view sql) override {
    check(sql);
    return inner().query(sql);
  }
  std::int64_t execute(std::string_view sql) override {
    check(sql);
    return inner().execute(sql);
  }
  std::int64_t executeWith(std::string_view sql, const std::vector<db::Value>& params) override {
    check(sql);
    return inner().executeWith(sql, params);
  }
  void commit() override {
    if (dropped_) throw linkFailure();
    inner().commit();
  }
  void rollback() override {
    if (dropped_) throw linkFailure();
    inner().rollback();
  }

 private:
  void check(std::string_view sql) {
    Faults& f = *faults_;
    ++f.statements;
    f.texts.emplace_back(sql);
    if (dropped_) throw linkFailure();
    if (f.failAt == 0 || f.statements != f.failAt) return;
    switch (f.kind) {
      case Faults::Kind::Error:
        throw DatabaseError("Injected failure of statement " + std::to_string(f.statements),
                            "HY000");
      case Faults::Kind::Dropped:
        dropped_ = true;
        throw linkFailure();
      case Faults::Kind::Busy:
        throw DatabaseError("database is locked", "HYT00", DatabaseError::Kind::Locked);
      case Faults::Kind::OutOfMemory:
        throw std::bad_alloc();
    }
  }

  std::shared_ptr<Faults> faults_;
  bool dropped_ = false;
};

// A connection factory for TdmDupsweep that opens real connections wrapped in FaultyConnection.
inline auto faultyFactory(std::shared_ptr<Faults> faults) {
  return [faults](const std::string& connectionString) -> std::unique_ptr<db::Connection> {
    ++faults->opens;
    if (faults->failOpen) throw DatabaseError("Unable to open the database", "08001",
                                                DatabaseError::Kind::LinkLost);
    return std::make_unique<FaultyConnection>(db::open(connectionString), faults);
  };
}

}  // namespace dupsweep::testing
