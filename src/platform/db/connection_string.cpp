#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/db/db.h"

namespace dupsweep::db {
namespace {

constexpr size_t kShortestScrubbedPassword = 4;

// The SQLite ODBC driver's lock wait (Timeout, ms) when the string names none. The driver may
// spend it twice on one statement, so half the SQLite provider's 5 s gives the same wait.
constexpr char kSqliteOdbcLockTimeoutMs[] = "2500";

// OLE DB's default Connect Timeout, in seconds.
constexpr int kDefaultConnectTimeoutSeconds = 15;

struct Pair {
  std::string key;      // as written, outer blanks removed
  std::string keyNorm;  // lower case, inner runs of blanks reduced to one space
  std::string value;    // unquoted
  std::string odbcRaw;  // a value written in ODBC braces, as written (braces included)
};

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

char lowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lowerAscii(c);
  return out;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string normaliseKey(std::string_view key) {
  std::string out;
  bool blank = false;
  for (char c : key) {
    if (isBlank(c)) {
      blank = true;
      continue;
    }
    if (blank && !out.empty()) out += ' ';
    blank = false;
    out += lowerAscii(c);
  }
  return out;
}

[[noreturn]] void malformed(const std::string& what) {
  throw DatabaseError("The connection string is malformed: " + what + ".");
}

// Appends text[i...] to `out` up to a `close` that is not doubled (a doubled one stands for one)
// and leaves `i` after it; false when the text ends first.
bool readToClosing(std::string_view text, size_t& i, char close, std::string& out) {
  while (i < text.size()) {
    if (text[i] == close) {
      if (i + 1 < text.size() && text[i + 1] == close) {
        out += close;
        i += 2;
        continue;
      }
      ++i;
      return true;
    }
    out += text[i++];
  }
  return false;
}

// A '=' inside a key is written "=="; a quoted value doubles its quote. Messages give positions
// and keys, never values, because a value may be a password.
std::vector<Pair> splitPairs(std::string_view text) {
  std::vector<Pair> pairs;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    while (i < n && (isBlank(text[i]) || text[i] == ';')) ++i;
    if (i >= n) break;
    std::string key;
    const size_t keyStart = i;
    for (;;) {
      if (i >= n || text[i] == ';')
        malformed("the text at position " + std::to_string(keyStart + 1) + " has no '='");
      if (text[i] == '=') {
        if (i + 1 < n && text[i + 1] == '=') {
          key += '=';
          i += 2;
          continue;
        }
        ++i;
        break;
      }
      key += text[i++];
    }
    Pair pair;
    pair.key = std::string(trim(key));
    pair.keyNorm = normaliseKey(pair.key);
    if (pair.keyNorm.empty()) malformed("an empty key at position " + std::to_string(keyStart + 1));
    while (i < n && isBlank(text[i])) ++i;
    if (i < n && (text[i] == '"' || text[i] == '\'')) {
      const char quote = text[i++];
      if (!readToClosing(text, i, quote, pair.value))
        malformed("the value of '" + pair.key + "' has no closing quote");
      while (i < n && isBlank(text[i])) ++i;
      if (i < n && text[i] != ';')
        malformed("text follows the closing quote of the value of '" + pair.key + "'");
    } else if (i < n && text[i] == '{') {
      // ODBC braces, as written in MSDASQL strings: up to the '}' that is not doubled.
      const size_t start = i++;
      if (!readToClosing(text, i, '}', pair.value))
        malformed("the value of '" + pair.key + "' has no closing brace");
      pair.odbcRaw = std::string(text.substr(start, i - start));
      while (i < n && isBlank(text[i])) ++i;
      if (i < n && text[i] != ';')
        malformed("text follows the closing brace of the value of '" + pair.key + "'");
    } else {
      const size_t start = i;
      while (i < n && text[i] != ';') ++i;
      pair.value = std::string(trim(text.substr(start, i - start)));
    }
    pairs.push_back(std::move(pair));
  }
  return pairs;
}

// The value of the last pair whose key is one of `names` (normalised spelling).
std::optional<std::string> lookup(const std::vector<Pair>& pairs,
                                  std::initializer_list<std::string_view> names) {
  for (auto it = pairs.rbegin(); it != pairs.rend(); ++it)
    for (std::string_view name : names)
      if (it->keyNorm == name) return it->value;
  return std::nullopt;
}

bool isOneOf(std::string_view keyNorm, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), keyNorm) != names.end();
}

// One ODBC `key=value` pair; the value braced when the plain form would be misread.
void appendOdbc(std::string& out, std::string_view key, std::string_view value) {
  if (!out.empty()) out += ';';
  out += key;
  out += '=';
  const bool brace = value.find_first_of(";{}=") != std::string_view::npos ||
                     (!value.empty() && (isBlank(value.front()) || isBlank(value.back())));
  if (!brace) {
    out += value;
    return;
  }
  out += '{';
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  out += '}';
}

bool isSqlServerProvider(std::string_view p) {
  return p == "sqloledb" || p == "sqloledb.1" || p.starts_with("sqlncli") ||
         p.starts_with("msoledbsql");
}

bool isTrue(std::string_view v) {
  const std::string l = lower(trim(v));
  return l == "sspi" || l == "true" || l == "yes";
}

std::string odbcDriverName() {
  const char* env = std::getenv("DUPSWEEP_ODBC_DRIVER");
  if (env && *env) return env;
  return "FreeTDS";
}

// The server as ODBC drivers read it: host, host,port or host\instance.
std::string serverName(std::string_view dataSource) {
  std::string s(trim(dataSource));
  if (lower(s).starts_with("tcp:")) s.erase(0, 4);
  const size_t sep = s.find_first_of("\\,");
  std::string host = s.substr(0, sep);
  const std::string rest = sep == std::string::npos ? std::string() : s.substr(sep);
  const std::string lh = lower(host);
  if (lh == "(local)" || lh == ".") host = "localhost";
  return host + rest;
}

ConnectionTarget mapSqlServer(const std::vector<Pair>& pairs) {
  ConnectionTarget t;
  t.kind = ConnectionTarget::Kind::Odbc;
  const auto server =
      lookup(pairs, {"data source", "server", "address", "addr", "network address"});
  if (!server || trim(*server).empty())
    throw DatabaseError("The connection string names no server (Data Source).");
  const std::string driver = odbcDriverName();
  const std::string ld = lower(driver);
  const bool freeTds =
      ld.find("freetds") != std::string::npos || ld.find("tdsodbc") != std::string::npos;

  std::string out;
  out = "Driver={";
  for (char c : driver) {
    out += c;
    if (c == '}') out += '}';
  }
  out += '}';
  const std::string serverText = serverName(*server);
  appendOdbc(out, "Server", serverText);
  // host\instance without a port: the port is looked up before connecting; with one
  // ("host\instance,1500") the drivers use it.
  const size_t slash = serverText.find('\\');
  if (slash != std::string::npos && slash + 1 < serverText.size() &&
      serverText.find(',') == std::string::npos) {
    ConnectionTarget::NamedInstance named;
    named.host = serverText.substr(0, slash);
    named.instance = serverText.substr(slash + 1);
    appendOdbc(named.serverPair, "Server", serverText);
    t.namedInstance = std::move(named);
  }
  if (auto db = lookup(pairs, {"initial catalog", "database"}); db && !db->empty())
    appendOdbc(out, "Database", *db);
  const auto integrated = lookup(pairs, {"integrated security", "trusted_connection"});
  const auto password = lookup(pairs, {"password", "pwd"});
  if (password) t.password = *password;
  if (integrated && isTrue(*integrated)) {
    appendOdbc(out, "Trusted_Connection", "Yes");
  } else {
    if (auto user = lookup(pairs, {"user id", "uid", "user"})) appendOdbc(out, "UID", *user);
    if (password) appendOdbc(out, "PWD", *password);
  }
  if (auto app = lookup(pairs, {"application name", "app"}); app && !app->empty())
    appendOdbc(out, "APP", *app);
  if (auto ws = lookup(pairs, {"workstation id", "wsid"}); ws && !ws->empty())
    appendOdbc(out, "WSID", *ws);
  if (freeTds) appendOdbc(out, "ClientCharset", "UTF-8");

  t.loginTimeoutSeconds = kDefaultConnectTimeoutSeconds;
  if (auto timeout = lookup(pairs, {"connect timeout", "connection timeout", "timeout"})) {
    const std::string_view v = trim(*timeout);
    int seconds = 0;
    bool ok = !v.empty() && v.size() < 9;
    for (char c : v) ok = ok && c >= '0' && c <= '9';
    if (!ok)
      throw DatabaseError("The connection string's Connect Timeout is not a number of seconds.");
    for (char c : v) seconds = seconds * 10 + (c - '0');
    t.loginTimeoutSeconds = seconds;
  }
  t.odbcConnection = std::move(out);
  return t;
}

// The pairs of ODBC `key=value` text (braced values understood), keys normalised, in order.
std::vector<std::pair<std::string, std::string>> odbcPairs(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> pairs;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ';' || isBlank(text[i]))) ++i;
    const size_t eq = text.find('=', i);
    if (eq == std::string_view::npos) break;
    std::string key = normaliseKey(text.substr(i, eq - i));
    i = eq + 1;
    std::string value;
    if (i < text.size() && text[i] == '{') {
      readToClosing(text, ++i, '}', value);
      while (i < text.size() && text[i] != ';') ++i;
    } else {
      const size_t end = std::min(text.find(';', i), text.size());
      value = std::string(trim(text.substr(i, end - i)));
      i = end;
    }
    pairs.emplace_back(std::move(key), std::move(value));
  }
  return pairs;
}

// The value of PWD in ODBC `key=value` text; empty when none.
std::string odbcPassword(std::string_view text) {
  std::string found;
  for (const auto& [key, value] : odbcPairs(text))
    if (key == "pwd" || key == "password") found = value;
  return found;
}

// For the SQLite ODBC drivers, where the string does not set them: a bounded lock wait (Timeout)
// and no new database for a missing file (NoCreat), as the SQLite provider behaves.
void addSqliteOdbcDefaults(std::string& out) {
  const auto pairs = odbcPairs(out);
  const auto has = [&pairs](std::string_view key) {
    return std::any_of(pairs.begin(), pairs.end(), [key](const auto& p) { return p.first == key; });
  };
  const auto driver =
      std::find_if(pairs.begin(), pairs.end(), [](const auto& p) { return p.first == "driver"; });
  if (driver == pairs.end() || lower(driver->second).find("sqlite") == std::string::npos) return;
  if (!has("timeout")) appendOdbc(out, "Timeout", kSqliteOdbcLockTimeoutMs);
  if (!has("nocreat")) appendOdbc(out, "NoCreat", "1");
}

ConnectionTarget mapMsdasql(const std::vector<Pair>& pairs) {
  ConnectionTarget t;
  t.kind = ConnectionTarget::Kind::Odbc;
  std::string out;
  std::string extended;
  auto odbcKey = [](const Pair& p) -> std::string {
    if (p.keyNorm == "data source") return "DSN";
    if (p.keyNorm == "user id") return "UID";
    if (p.keyNorm == "password") return "PWD";
    if (p.keyNorm == "initial catalog") return "Database";
    return p.key;
  };
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const Pair& p = pairs[i];
    if (p.keyNorm == "provider" || p.keyNorm == "persist security info") continue;
    if (p.keyNorm == "extended properties") {
      extended = p.value;
      continue;
    }
    const std::string key = odbcKey(p);
    // The last of repeated keys counts; ODBC drivers take the first, so earlier ones are dropped.
    const std::string keyNorm = normaliseKey(key);
    if (std::any_of(pairs.begin() + static_cast<std::ptrdiff_t>(i) + 1, pairs.end(),
                    [&](const Pair& later) { return normaliseKey(odbcKey(later)) == keyNorm; }))
      continue;
    if (isOneOf(p.keyNorm, {"password", "pwd"})) t.password = p.value;
    if (p.odbcRaw.empty()) {
      appendOdbc(out, key, p.value);
    } else {
      if (!out.empty()) out += ';';
      out += key + '=' + p.odbcRaw;
    }
  }
  if (!trim(extended).empty()) {
    if (!out.empty()) out += ';';
    out += trim(extended);
    if (const std::string pwd = odbcPassword(extended); !pwd.empty()) t.password = pwd;
  }
  if (out.empty())
    throw DatabaseError("The connection string gives no ODBC data source or driver.");
  addSqliteOdbcDefaults(out);
  t.odbcConnection = std::move(out);
  return t;
}

}  // namespace

ConnectionTarget parseConnectionString(std::string_view oledb) {
  if (trim(oledb).empty()) throw DatabaseError("The connection string is empty.");
  // The host's BSTR may carry a NUL, but every C string made of a value would end there.
  if (oledb.find('\0') != std::string_view::npos)
    throw DatabaseError("The connection string is malformed: it holds a NUL character.");
  const std::vector<Pair> pairs = splitPairs(oledb);
  const auto providerValue = lookup(pairs, {"provider"});
  if (!providerValue || trim(*providerValue).empty())
    throw DatabaseError("The connection string names no provider.");
  const std::string provider = lower(trim(*providerValue));

  ConnectionTarget t;
  if (provider == "sqlite") {
    const auto file = lookup(pairs, {"data source"});
    if (!file || file->empty())
      throw DatabaseError("The connection string names no SQLite database file (Data Source).");
    t.kind = ConnectionTarget::Kind::SQLite;
    t.sqlitePath = *file;
    if (auto pwd = lookup(pairs, {"password", "pwd"})) t.password = *pwd;
    return t;
  }
  if (isSqlServerProvider(provider)) return mapSqlServer(pairs);
  if (provider == "msdasql" || provider == "msdasql.1") return mapMsdasql(pairs);
  throw DatabaseError("The connection string names an unknown provider '" +
                      std::string(trim(*providerValue)) +
                      "'; known are SQLite, SQLOLEDB, SQLNCLI, MSOLEDBSQL and MSDASQL.");
}

std::string scrubPassword(std::string_view message, std::string_view password) {
  std::string out(message);
  const std::string mask = "***";
  auto replaceAll = [&out, &mask](std::string_view what) {
    if (what.empty()) return;
    for (size_t pos = out.find(what); pos != std::string::npos;
         pos = out.find(what, pos + mask.size()))
      out.replace(pos, what.size(), mask);
  };
  // A password under four characters is too likely part of ordinary words ("x" in "exist"):
  // it is caught only after PWD= or Password=.
  if (password.size() >= kShortestScrubbedPassword) {
    // The longer escaped forms first, so that no part of them survives the plain replacement.
    std::string braced, dq, sq;
    for (char c : password) {
      braced += c;
      if (c == '}') braced += '}';
      dq += c;
      if (c == '"') dq += '"';
      sq += c;
      if (c == '\'') sq += '\'';
    }
    replaceAll(braced);
    replaceAll(dq);
    replaceAll(sq);
    replaceAll(password);
  }
  const std::string low = lower(out);
  std::string result;
  size_t copied = 0;
  for (size_t i = 0; i < out.size();) {
    size_t keyLen = 0;
    if (low.compare(i, 8, "password") == 0)
      keyLen = 8;
    else if (low.compare(i, 3, "pwd") == 0)
      keyLen = 3;
    const bool boundary =
        i == 0 || !(std::isalnum(static_cast<unsigned char>(out[i - 1])) || out[i - 1] == '_');
    if (keyLen == 0 || !boundary) {
      ++i;
      continue;
    }
    size_t j = i + keyLen;
    while (j < out.size() && isBlank(out[j])) ++j;
    if (j >= out.size() || out[j] != '=') {
      i += keyLen;
      continue;
    }
    ++j;
    while (j < out.size() && isBlank(out[j])) ++j;
    size_t end = j;
    if (end < out.size() && (out[end] == '{' || out[end] == '"' || out[end] == '\'')) {
      const char close = out[end] == '{' ? '}' : out[end];
      ++end;
      while (end < out.size()) {
        if (out[end] == close) {
          if (end + 1 < out.size() && out[end + 1] == close) {
            end += 2;
            continue;
          }
          ++end;
          break;
        }
        ++end;
      }
    } else {
      while (end < out.size() && out[end] != ';' && !isBlank(out[end]) && out[end] != '"' &&
             out[end] != '\'' && out[end] != ']' && out[end] != ')')
        ++end;
      // A short password may itself hold a stop character ("q\"x"): all of it is masked.
      if (!password.empty() && out.compare(j, password.size(), password) == 0)
        end = std::max(end, j + password.size());
    }
    if (end == j || out.compare(j, end - j, mask) == 0) {
      i = end == j ? j : end;
      continue;
    }
    result.append(out, copied, j - copied);
    result += mask;
    copied = end;
    i = end;
  }
  result.append(out, copied, std::string::npos);
  return result;
}

namespace {

// Absolute, symbolic links and "." and ".." resolved as far as the path exists, case kept.
std::string realPath(std::string_view file) {
  std::error_code ec;
  const std::filesystem::path given{std::string(file)};
  std::filesystem::path real = std::filesystem::weakly_canonical(given, ec);
  if (ec) real = std::filesystem::absolute(given, ec).lexically_normal();
  return real.string();
}

// Host and database without regard to case, as the server's default collation compares names;
// then the port, else the named instance (a default instance listens on 1433).
std::string sqlServerIdentity(std::string_view dataSource, std::string_view database) {
  const std::string server = lower(serverName(dataSource));
  const size_t sep = server.find_first_of("\\,");
  const std::string host(trim(server.substr(0, sep)));
  std::string where = ",1433";
  if (const size_t comma = server.find(','); comma != std::string::npos) {
    std::string_view port = trim(std::string_view(server).substr(comma + 1));
    while (port.size() > 1 && port.front() == '0') port.remove_prefix(1);
    where = "," + std::string(port);
  } else if (sep != std::string::npos) {
    const std::string instance(trim(std::string_view(server).substr(sep + 1)));
    if (instance != "mssqlserver") where = "\\" + instance;
  }
  return "sqlserver:" + host + where + "/" + lower(trim(database));
}

std::string msdasqlIdentity(const std::vector<Pair>& pairs) {
  // The keys the driver manager reads, OLE DB names mapped; the string's own keys come before
  // those of Extended Properties.
  std::vector<std::pair<std::string, std::string>> keys;
  for (auto it = pairs.rbegin(); it != pairs.rend(); ++it) {
    std::string key = it->keyNorm;
    if (key == "data source") key = "dsn";
    if (key == "initial catalog") key = "database";
    if (key == "extended properties" || key == "provider") continue;
    keys.emplace_back(std::move(key), it->value);
  }
  if (const auto extended = lookup(pairs, {"extended properties"}))
    for (auto& pair : odbcPairs(*extended)) keys.push_back(std::move(pair));
  const auto value = [&keys](std::string_view key) -> std::optional<std::string> {
    for (const auto& [k, v] : keys)
      if (k == key) return v;
    return std::nullopt;
  };
  const auto driver = value("driver");
  const auto database = value("database");
  if (driver && lower(*driver).find("sqlite") != std::string::npos && database &&
      !trim(*database).empty())
    return "sqlite:" + realPath(trim(*database));
  if (const auto dsn = value("dsn"); dsn && !trim(*dsn).empty()) {
    std::string identity = "dsn:" + lower(trim(*dsn));
    if (database && !trim(*database).empty()) identity += "/" + std::string(trim(*database));
    return identity;
  }
  for (std::string_view key : {"server", "address", "addr"})
    if (const auto server = value(key); server && !trim(*server).empty()) {
      // FreeTDS also takes the port as a key of its own.
      const auto port = value("port");
      const bool portApart = port && !trim(*port).empty() && server->find(',') == std::string::npos;
      return sqlServerIdentity(portApart ? *server + "," + std::string(trim(*port)) : *server,
                               database.value_or(std::string()));
    }
  return {};
}

}  // namespace

std::string databaseIdentity(std::string_view connectionString) {
  std::string identity;
  try {
    const ConnectionTarget target = parseConnectionString(connectionString);
    const std::vector<Pair> pairs = splitPairs(connectionString);
    const std::string provider = lower(trim(lookup(pairs, {"provider"}).value_or(std::string())));
    if (target.kind == ConnectionTarget::Kind::SQLite)
      identity = "sqlite:" + realPath(target.sqlitePath);
    else if (isSqlServerProvider(provider))
      identity = sqlServerIdentity(
          *lookup(pairs, {"data source", "server", "address", "addr", "network address"}),
          lookup(pairs, {"initial catalog", "database"}).value_or(std::string()));
    else
      identity = msdasqlIdentity(pairs);
  } catch (const DatabaseError&) {
    // Text that names no database the component can reach is only itself.
  }
  return identity.empty() ? "text:" + std::string(connectionString) : identity;
}

}  // namespace dupsweep::db
