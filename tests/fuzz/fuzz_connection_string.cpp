// Fuzz target: the OLE DB connection-string parser and the password scrubber.
//
// The whole input is a connection string. When it holds a NUL byte, the text before it is also
// scrubbed of the password after it.
//
// Properties besides "no crash": parsing fails only with DatabaseError; an ODBC connection string
// made for a SQL Server provider is well-formed ODBC text of the fixed keys only, each once, so no
// value of the host's string can add a key (another driver, say); the scrubbed form of any result
// shows "***" as its password; a scrubbed message never contains the password.

#include <algorithm>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/db/db.h"

namespace dupsweep::fuzz {
namespace {

constexpr std::string_view kTarget = "connection_string";

struct OdbcPair {
  std::string key;  // lower case
  std::string value;
};

// Strict reading of ODBC connection text: `key=value` pairs separated by ';', a value either
// plain (no ';', '{' or '}') or braced with '}' doubled inside. False when the text is not that.
bool parseOdbc(std::string_view text, std::vector<OdbcPair>& pairs) {
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t eq = text.find('=', i);
    if (eq == std::string_view::npos || eq == i) return false;
    OdbcPair pair;
    for (char c : text.substr(i, eq - i)) {
      if (c == ';' || c == '{' || c == '}') return false;
      pair.key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    i = eq + 1;
    if (i < text.size() && text[i] == '{') {
      ++i;
      for (;;) {
        if (i >= text.size()) return false;
        if (text[i] == '}') {
          if (i + 1 < text.size() && text[i + 1] == '}') {
            pair.value += '}';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        pair.value += text[i++];
      }
    } else {
      while (i < text.size() && text[i] != ';') {
        if (text[i] == '{' || text[i] == '}') return false;
        pair.value += text[i++];
      }
    }
    pairs.push_back(std::move(pair));
    if (i < text.size()) {
      if (text[i] != ';') return false;
      ++i;
    }
  }
  return true;
}

void checkSqlServer(const db::ConnectionTarget& t) {
  std::vector<OdbcPair> pairs;
  check(parseOdbc(t.odbcConnection, pairs), kTarget, "SQL Server ODBC string is malformed");
  static const std::set<std::string> kKeys = {"driver", "server", "database",
                                              "uid",    "pwd",    "trusted_connection",
                                              "app",    "wsid",   "clientcharset"};
  std::set<std::string> seen;
  for (const auto& p : pairs) {
    check(kKeys.count(p.key) == 1, kTarget, "SQL Server ODBC string has a foreign key: " + p.key);
    check(seen.insert(p.key).second, kTarget, "SQL Server ODBC string repeats key " + p.key);
    if (p.key == "pwd") check(p.value == t.password, kTarget, "PWD is not the password");
  }
  check(seen.count("driver") == 1 && seen.count("server") == 1, kTarget,
        "SQL Server ODBC string lacks Driver or Server");
}

// The password of a scrubbed ODBC string never shows as the value of its PWD or Password key.
// (The scrubber masks whatever follows such a key up to the end of a word; what is left of a
// longer value, or of a key that merely ends in "Password=", is not the password.)
void checkScrubbedOdbc(const db::ConnectionTarget& t) {
  // (A password made of the mask's own '*' cannot be told from the mask.)
  if (t.password.empty() || t.password.find('*') != std::string::npos) return;
  const std::string scrubbed = db::scrubPassword(t.odbcConnection, t.password);
  std::vector<OdbcPair> pairs;
  if (!parseOdbc(scrubbed, pairs)) return;  // MSDASQL passes foreign text through as it stands
  for (const auto& p : pairs)
    if (p.key == "pwd" || p.key == "password")
      check(p.value != t.password, kTarget, "a scrubbed string shows the password");
}

}  // namespace

void fuzzConnectionString(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  try {
    const db::ConnectionTarget t = db::parseConnectionString(input);
    if (t.kind == db::ConnectionTarget::Kind::SQLite) {
      check(!t.sqlitePath.empty(), kTarget, "SQLite target without a file");
    } else {
      check(!t.odbcConnection.empty(), kTarget, "ODBC target without a connection string");
      check(t.loginTimeoutSeconds >= -1, kTarget, "negative login timeout");
      checkScrubbedOdbc(t);
    }
  } catch (const DatabaseError&) {
    // A malformed or incomplete string: the expected failure.
  }

  // The same pairs read as a SQL Server string: the last Provider counts, so the appended one
  // decides the mapping whenever the input's pairs parse at all.
  try {
    const db::ConnectionTarget t =
        db::parseConnectionString(std::string(input) + ";Provider=SQLOLEDB");
    check(t.kind == db::ConnectionTarget::Kind::Odbc, kTarget, "SQLOLEDB did not give ODBC");
    checkSqlServer(t);
    checkScrubbedOdbc(t);
    // The one PWD of a SQL Server string is the password, written by the mapping: fully masked.
    std::vector<OdbcPair> pairs;
    if (!t.password.empty() && parseOdbc(db::scrubPassword(t.odbcConnection, t.password), pairs)) {
      for (const auto& p : pairs)
        if (p.key == "pwd") check(p.value == "***", kTarget, "a scrubbed PWD is not ***");
    }
  } catch (const DatabaseError&) {
  }

  if (const std::size_t nul = input.find('\0'); nul != std::string_view::npos) {
    const std::string_view message = input.substr(0, nul);
    const std::string_view password = input.substr(nul + 1);
    const std::string scrubbed = db::scrubPassword(message, password);
    if (password.size() >= 4 && password.find('*') == std::string_view::npos)
      check(scrubbed.find(password) == std::string::npos, kTarget,
            "the scrubbed message still holds the password");
  }
}

}  // namespace dupsweep::fuzz

#ifdef DUPSWEEP_FUZZ_MAIN
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  dupsweep::fuzz::fuzzConnectionString(data, size);
  return 0;
}
#endif
