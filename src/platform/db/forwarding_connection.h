#pragma once
// A connection that hands every call on to another one: a wrapper derives from it and overrides
// only what it watches or changes. Streaming is left to Connection's own, which reads through
// query(), so a wrapper that watches queries sees streamed statements too; a wrapper that only
// passes rows on forwards stream() itself.

#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/db/db.h"

namespace dupsweep::db {

class ForwardingConnection : public Connection {
 protected:
  // The connection the calls go to: the one given, unless a derived class finds its own.
  virtual Connection& inner() const { return *inner_; }
  // Sees a forwarded call's failure before it propagates.
  virtual void failed(const DatabaseError&) const {}
  // Runs `f` on inner(), handing a DatabaseError to failed() on its way out.
  template <class F>
  auto forward(F&& f) const {
    try {
      return f(inner());
    } catch (const DatabaseError& e) {
      failed(e);
      throw;
    }
  }

 public:
  // Forwards to `inner`; a derived class that overrides inner() may give none.
  explicit ForwardingConnection(std::unique_ptr<Connection> inner = nullptr)
      : inner_(std::move(inner)) {}

  Dialect dialect() const override {
    return forward([](Connection& c) { return c.dialect(); });
  }
  std::unique_ptr<RowSet> query(std::string_view sql) override {
    return forward([&](Connection& c) { return c.query(sql); });
  }
  std::int64_t execute(std::string_view sql) override {
    return forward([&](Connection& c) { return c.execute(sql); });
  }
  std::int64_t executeWith(std::string_view sql, const std::vector<Value>& params) override {
    return forward([&](Connection& c) { return c.executeWith(sql, params); });
  }
  void begin() override {
    forward([](Connection& c) { c.begin(); });
  }
  void commit() override {
    forward([](Connection& c) { c.commit(); });
  }
  void rollback() override {
    forward([](Connection& c) { c.rollback(); });
  }

 private:
  std::unique_ptr<Connection> inner_;
};

}  // namespace dupsweep::db
