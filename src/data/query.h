#pragma once
// TQuery: a statement as a list of lines over the owning data module's connection, opened (rows
// read whole and kept until closed) or executed (affected-row count).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/db/db.h"

namespace dupsweep {

class TQuery {
 public:
  // `connection` yields the live connection (opened on first use).
  explicit TQuery(std::function<db::Connection&()> connection);

  // Changing the lines does not close the query.
  std::vector<std::string> SQL;

  // Every line followed by CR LF.
  std::string Text() const;

  // Keeps the rows, positioned on the first. Throws DatabaseError, leaving the query closed.
  void Open();
  // Harmless when closed.
  void Close() noexcept;
  bool Active() const noexcept { return rows_ != nullptr; }

  // Returns the affected-row count and closes the query. Throws DatabaseError when refused.
  std::int64_t ExecSQL();

  // Requires Active(); throws DatabaseError otherwise.
  db::RowSet& Rows();

 private:
  std::function<db::Connection&()> connection_;
  std::unique_ptr<db::RowSet> rows_;
};

}  // namespace dupsweep
