#include "data/query.h"

#include <utility>

#include "data/statements.h"

namespace dupsweep {

TQuery::TQuery(std::function<db::Connection&()> connection) : connection_(std::move(connection)) {}

std::string TQuery::Text() const { return sql::joined(SQL); }

void TQuery::Open() {
  Close();
  rows_ = connection_().query(Text());
}

void TQuery::Close() noexcept { rows_.reset(); }

std::int64_t TQuery::ExecSQL() {
  Close();
  return connection_().execute(Text());
}

db::RowSet& TQuery::Rows() {
  if (!rows_) throw DatabaseError("The query is not open");
  return *rows_;
}

}  // namespace dupsweep
