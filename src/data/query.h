#pragma once
// TQuery: a query component over the database layer. It holds a statement as a list of lines
// (sent joined by CR LF, every line ended by one), can be opened (the statement's rows are read
// whole into a row set that the query keeps until it is closed) or executed (no rows; the
// affected-row count is returned). The connection comes from the data module that owns the query.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/db/db.h"

namespace dupsweep {

class TQuery {
 public:
  // `connection` yields the live connection to run statements on (opened on first use).
  explicit TQuery(std::function<db::Connection&()> connection);

  // The statement's lines. Changing them does not close the query.
  std::vector<std::string> SQL;

  // The statement text as sent: every line followed by CR LF.
  std::string Text() const;

  // Runs the statement and keeps its rows, positioned on the first row. Throws DatabaseError when
  // the statement cannot run; the query is then closed.
  void Open();
  // Drops the rows. Harmless when closed.
  void Close() noexcept;
  bool Active() const noexcept { return rows_ != nullptr; }

  // Runs the statement as one that returns no rows and returns the affected-row count. The query
  // is closed afterwards. Throws DatabaseError when the statement is refused.
  std::int64_t ExecSQL();

  // The rows of the open query. Requires Active(); throws DatabaseError otherwise.
  db::RowSet& Rows();

 private:
  std::function<db::Connection&()> connection_;
  std::unique_ptr<db::RowSet> rows_;
};

}  // namespace dupsweep
