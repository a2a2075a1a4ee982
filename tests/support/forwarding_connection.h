#pragma once
// A connection for tests that hands every call on to a real one: a test's wrapper derives from it
// and overrides only what it watches or changes. Streaming is left to Connection's own, which
// reads through query(), so a wrapper that watches queries sees streamed statements too.

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/db/db.h"

namespace dupsweep::testing {

class ForwardingConnection : public db::Connection {
 public:
  explicit ForwardingConnection(std::unique_ptr<db::Connection> inner) : inner_(std::move(inner)) {}

  db::Dialect dialect() const override { return inner_->dialect(); }
  std::unique_ptr<db::RowSet> query(std::string_view sql) override { return inner_->query(sql); }
  std::int64_t execute(std::string_view sql) override { return inner_->execute(sql); }
  std::int64_t executeWith(std::string_view sql, const std::vector<db::Value>& params) override {
    return inner_->executeWith(sql, params);
  }
  void begin() override { inner_->begin(); }
  void commit() override { inner_->commit(); }
  void rollback() override { inner_->rollback(); }

 protected:
  db::Connection& inner() { return *inner_; }

 private:
  std::unique_ptr<db::Connection> inner_;
};

}  // namespace dupsweep::testing
