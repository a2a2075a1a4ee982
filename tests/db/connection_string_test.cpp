// Connection strings: OLE DB parsing, the mapping of each provider, and passwords kept out of
// every message.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/db/db.h"
#include "support/sqlite_file.h"

namespace dupsweep::db {
namespace {

using Kind = ConnectionTarget::Kind;

// Sets DUPSWEEP_ODBC_DRIVER for one test and restores it afterwards.
class DriverEnv {
 public:
  explicit DriverEnv(const char* value) {
    if (const char* old = std::getenv("DUPSWEEP_ODBC_DRIVER")) old_ = old;
    if (value)
      setenv("DUPSWEEP_ODBC_DRIVER", value, 1);
    else
      unsetenv("DUPSWEEP_ODBC_DRIVER");
  }
  ~DriverEnv() {
    if (old_)
      setenv("DUPSWEEP_ODBC_DRIVER", old_->c_str(), 1);
    else
      unsetenv("DUPSWEEP_ODBC_DRIVER");
  }

 private:
  std::optional<std::string> old_;
};

std::string errorOf(std::string_view connectionString) {
  try {
    parseConnectionString(connectionString);
  } catch (const DatabaseError& e) {
    return e.what();
  }
  return "<no error>";
}

TEST(ConnectionStringTest, SqliteKeysIgnoreCaseAndBlanks) {
  const auto t = parseConnectionString("  provider = sqlite ; DATA   SOURCE = /tmp/x.db ;");
  EXPECT_EQ(t.kind, Kind::SQLite);
  EXPECT_EQ(t.sqlitePath, "/tmp/x.db");
}

TEST(ConnectionStringTest, QuotedValuesHoldSemicolonsAndDoubledQuotes) {
  EXPECT_EQ(parseConnectionString(R"(Provider=SQLite;Data Source="/tmp/a;b ""c"".db")").sqlitePath,
            R"(/tmp/a;b "c".db)");
  EXPECT_EQ(parseConnectionString("Provider=SQLite;Data Source='/tmp/it''s;x.db'").sqlitePath,
            "/tmp/it's;x.db");
  // The other quote character is ordinary inside a quoted value.
  EXPECT_EQ(parseConnectionString(R"(Provider=SQLite;Data Source='a"b')").sqlitePath, "a\"b");
  // The last of repeated keys counts; "==" is an '=' inside a key.
  EXPECT_EQ(parseConnectionString("Data Source=a;Provider=SQLite;Data Source=b").sqlitePath, "b");
  EXPECT_EQ(parseConnectionString("Provider=MSDASQL;Driver=SQLite3;A==B=1").odbcConnection,
            "Driver=SQLite3;A=B=1;Timeout=2500;NoCreat=1");
}

TEST(ConnectionStringTest, MalformedTextIsRejectedWithoutQuotingValues) {
  EXPECT_NE(errorOf("").find("empty"), std::string::npos);
  EXPECT_NE(errorOf("Provider=SQLite;Data Source=\"/tmp/x.db").find("no closing quote"),
            std::string::npos);
  EXPECT_NE(errorOf("Provider=SQLite;Data Source='a'b").find("follows the closing quote"),
            std::string::npos);
  // An unquoted password holding ';' leaves a fragment without '='; the fragment is not echoed.
  const std::string e = errorOf("Provider=SQLOLEDB;Data Source=h;Password=ab;cdSecret");
  EXPECT_NE(e.find("has no '='"), std::string::npos);
  EXPECT_EQ(e.find("cdSecret"), std::string::npos);
}

TEST(ConnectionStringTest, ANulIsRefusedWithoutQuotingTheString) {
  // As a host's BSTR carries it: the value would end at the NUL wherever it became a C string.
  const std::string e = errorOf(std::string_view(
      "Provider=SQLite;Data Source=/tmp/a.db\0;Data Source=/tmp/secret.db", 65));
  EXPECT_NE(e.find("NUL"), std::string::npos) << e;
  EXPECT_EQ(e.find("secret"), std::string::npos) << e;
}

// The same SQL Server database or data source, however the string spells it; the SQLite files
// are in the restore tests, on real files and links.
TEST(DatabaseIdentityTest, ServersAndDataSourcesByWhatTheyName) {
  const auto same = [](std::string_view a, std::string_view b) {
    return databaseIdentity(a) == databaseIdentity(b);
  };
  EXPECT_TRUE(
      same("Provider=SQLOLEDB;Data Source=SRV01;Initial Catalog=Report;User ID=sa;Password=x",
           "provider=sqlncli11; server = srv01,1433 ; database=REPORT; Integrated "
           "Security=SSPI;"));
  EXPECT_TRUE(same("Provider=SQLOLEDB;Data Source=srv\\Inst;Initial Catalog=R",
                   "Provider=MSDASQL;Driver=FreeTDS;Server=SRV\\inst;Database=r"));
  EXPECT_FALSE(same("Provider=SQLOLEDB;Data Source=srv;Initial Catalog=R",
                    "Provider=SQLOLEDB;Data Source=srv,1500;Initial Catalog=R"));
  EXPECT_FALSE(same("Provider=SQLOLEDB;Data Source=srv\\a;Initial Catalog=R",
                    "Provider=SQLOLEDB;Data Source=srv\\b;Initial Catalog=R"));
  EXPECT_FALSE(same("Provider=SQLOLEDB;Data Source=srv;Initial Catalog=R",
                    "Provider=SQLOLEDB;Data Source=srv;Initial Catalog=S"));
  EXPECT_TRUE(
      same("Provider=MSDASQL;Data Source=Report;UID=a", "Provider=MSDASQL;DSN=report;PWD=***"));
  EXPECT_FALSE(same("Provider=MSDASQL;DSN=report", "Provider=MSDASQL;DSN=other"));
}

TEST(ConnectionStringTest, MissingOrUnknownProvider) {
  EXPECT_NE(errorOf("Data Source=/tmp/x.db").find("no provider"), std::string::npos);
  EXPECT_NE(errorOf("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=x.mdb").find("unknown provider"),
            std::string::npos);
  EXPECT_NE(errorOf("Provider=SQLite").find("Data Source"), std::string::npos);
  EXPECT_NE(errorOf("Provider=SQLOLEDB;Initial Catalog=x").find("Data Source"), std::string::npos);
}

TEST(ConnectionStringTest, SqlServerProvidersMapToFreeTdsByDefault) {
  DriverEnv env(nullptr);
  const auto t = parseConnectionString(
      "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=sa;Password=p1;"
      "Initial Catalog=报表库;Data Source=dbhost,1433;Connect Timeout=7");
  EXPECT_EQ(t.kind, Kind::Odbc);
  EXPECT_EQ(t.odbcConnection,
            "Driver={FreeTDS};Server=dbhost,1433;Database=报表库;UID=sa;PWD=p1;"
            "ClientCharset=UTF-8");
  EXPECT_EQ(t.password, "p1");
  EXPECT_EQ(t.loginTimeoutSeconds, 7);
  for (const char* provider : {"SQLOLEDB", "sqloledb", "SQLNCLI", "SQLNCLI11", "SQLNCLI11.1",
                               "MSOLEDBSQL", "MSOLEDBSQL19"}) {
    EXPECT_EQ(parseConnectionString(std::string("Provider=") + provider + ";Data Source=h")
                  .odbcConnection,
              "Driver={FreeTDS};Server=h;ClientCharset=UTF-8")
        << provider;
  }
}

TEST(ConnectionStringTest, SqlServerServerFormsAndIntegratedSecurity) {
  DriverEnv env(nullptr);
  auto odbc = [](const std::string& rest) {
    return parseConnectionString("Provider=SQLOLEDB;" + rest).odbcConnection;
  };
  EXPECT_EQ(odbc(R"(Data Source=srv\SQLEXPRESS;Integrated Security=SSPI;User ID=x;Password=y)"),
            R"(Driver={FreeTDS};Server=srv\SQLEXPRESS;Trusted_Connection=Yes;ClientCharset=UTF-8)");
  EXPECT_EQ(odbc("Data Source=(local);Application Name=dupsweep;Workstation ID=PC1"),
            "Driver={FreeTDS};Server=localhost;APP=dupsweep;WSID=PC1;ClientCharset=UTF-8");
  EXPECT_EQ(odbc("Data Source=tcp:10.0.0.5,1500"),
            "Driver={FreeTDS};Server=10.0.0.5,1500;ClientCharset=UTF-8");
  EXPECT_NE(errorOf("Provider=SQLOLEDB;Data Source=h;Connect Timeout=soon").find("Connect Timeout"),
            std::string::npos);
}

TEST(ConnectionStringTest, SqlServerDriverComesFromTheEnvironment) {
  DriverEnv env("ODBC Driver 18 for SQL Server");
  EXPECT_EQ(parseConnectionString("Provider=MSOLEDBSQL;Data Source=h,1444;User ID=u;Password=pw")
                .odbcConnection,
            "Driver={ODBC Driver 18 for SQL Server};Server=h,1444;UID=u;PWD=pw");
}

TEST(ConnectionStringTest, OdbcValuesAreBracedWhenNeeded) {
  DriverEnv env(nullptr);
  const auto t = parseConnectionString(
      R"(Provider=SQLOLEDB;Data Source=h;User ID=u;Password="a;b}c=d";Initial Catalog=' db ')");
  EXPECT_EQ(t.odbcConnection,
            "Driver={FreeTDS};Server=h;Database={ db };UID=u;PWD={a;b}}c=d};ClientCharset=UTF-8");
  EXPECT_EQ(t.password, "a;b}c=d");
}

TEST(ConnectionStringTest, MsdasqlPassesOdbcKeysThrough) {
  auto t = parseConnectionString("Provider=MSDASQL;Driver=SQLite3;Database=/tmp/f.db");
  EXPECT_EQ(t.kind, Kind::Odbc);
  EXPECT_EQ(t.odbcConnection, "Driver=SQLite3;Database=/tmp/f.db;Timeout=2500;NoCreat=1");
  EXPECT_EQ(t.loginTimeoutSeconds, -1);

  t = parseConnectionString(
      "Provider=MSDASQL.1;Persist Security Info=True;Data Source=Reports;User ID=u;Password=s;"
      "Initial Catalog=db");
  EXPECT_EQ(t.odbcConnection, "DSN=Reports;UID=u;PWD=s;Database=db");
  EXPECT_EQ(t.password, "s");

  // Values in ODBC braces pass as written; values quoted the OLE DB way are braced for ODBC.
  t = parseConnectionString(
      "Provider=MSDASQL;Driver={SQLite3};Database={/tmp/a;b}}.db};UID='x;y';PWD={p}}w}");
  EXPECT_EQ(
      t.odbcConnection,
      "Driver={SQLite3};Database={/tmp/a;b}}.db};UID={x;y};PWD={p}}w};Timeout=2500;NoCreat=1");
  EXPECT_EQ(t.password, "p}w");
  EXPECT_EQ(parseConnectionString("Provider=SQLite;Data Source={/tmp/a;b.db}").sqlitePath,
            "/tmp/a;b.db");

  t = parseConnectionString(
      R"(Provider=MSDASQL;Extended Properties="DSN=Reports;UID=u;PWD={x;y}")");
  EXPECT_EQ(t.odbcConnection, "DSN=Reports;UID=u;PWD={x;y}");
  EXPECT_EQ(t.password, "x;y");
}

// The SQLite ODBC drivers wait 100 s for another writer's lock and create a missing file unless
// told otherwise; the mapping tells them, but never against what the host's string says.
TEST(ConnectionStringTest, SqliteOdbcDriversGetABoundedLockWaitAndNoNewFiles) {
  auto odbc = [](const std::string& rest) {
    return parseConnectionString("Provider=MSDASQL;" + rest).odbcConnection;
  };
  EXPECT_EQ(odbc("Driver=SQLite;Database=/d.db"),
            "Driver=SQLite;Database=/d.db;Timeout=2500;NoCreat=1");
  EXPECT_EQ(odbc("Driver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so;Database=/d.db"),
            "Driver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so;Database=/d.db;"
            "Timeout=2500;NoCreat=1");
  // The host's own values, in any spelling or place, stand.
  EXPECT_EQ(odbc("Driver=SQLite3;Database=/d.db;timeout=250;NOCREAT=0"),
            "Driver=SQLite3;Database=/d.db;timeout=250;NOCREAT=0");
  EXPECT_EQ(odbc("Driver=SQLite3;Timeout=100000;Database=/d.db"),
            "Driver=SQLite3;Timeout=100000;Database=/d.db;NoCreat=1");
  EXPECT_EQ(odbc(R"(Extended Properties="Driver={SQLite3};Database=/d.db;Timeout=0")"),
            "Driver={SQLite3};Database=/d.db;Timeout=0;NoCreat=1");
  // Other drivers and data sources are passed as they are.
  EXPECT_EQ(odbc("DSN=Reports"), "DSN=Reports");
  EXPECT_EQ(odbc("Driver={FreeTDS};Server=h"), "Driver={FreeTDS};Server=h");
}

TEST(ConnectionStringTest, SqlServerNamedInstanceAndDefaultConnectTimeout) {
  DriverEnv env(nullptr);
  auto t = parseConnectionString(R"(Provider=SQLOLEDB;Data Source=(local)\Inst_1;User ID=u)");
  EXPECT_EQ(t.loginTimeoutSeconds, 15);
  ASSERT_TRUE(t.namedInstance);
  EXPECT_EQ(t.namedInstance->host, "localhost");
  EXPECT_EQ(t.namedInstance->instance, "Inst_1");
  EXPECT_EQ(t.namedInstance->browserPort, 1434);
  // The pair that is replaced by host,port once the port is known.
  EXPECT_NE(t.odbcConnection.find(t.namedInstance->serverPair), std::string::npos);
  EXPECT_EQ(t.namedInstance->serverPair, R"(Server=localhost\Inst_1)");

  t = parseConnectionString(R"(Provider=SQLOLEDB;Data Source=h\inst;Connect Timeout=0)");
  EXPECT_EQ(t.loginTimeoutSeconds, 0);
  // A port given with the instance, or no instance at all: nothing to look up.
  EXPECT_FALSE(parseConnectionString(R"(Provider=SQLOLEDB;Data Source=h\inst,1500)").namedInstance);
  EXPECT_FALSE(parseConnectionString("Provider=SQLOLEDB;Data Source=h,1500").namedInstance);
  EXPECT_FALSE(parseConnectionString("Provider=MSDASQL;Driver=X;Server=h\\i").namedInstance);
}

TEST(ScrubPasswordTest, RemovesThePasswordInEveryForm) {
  EXPECT_EQ(scrubPassword("login failed for sa/hunter2", "hunter2"), "login failed for sa/***");
  EXPECT_EQ(scrubPassword("Driver={FreeTDS};PWD={a}}b};x", "a}b"), "Driver={FreeTDS};PWD=***;x");
  EXPECT_EQ(scrubPassword("Password=\"it\"\"s\"", "it\"s"), "Password=***");
  // A PWD= value is removed even when it is not the connection's password.
  EXPECT_EQ(scrubPassword("[drv] bad string 'UID=u;Pwd = other;X=1'", ""),
            "[drv] bad string 'UID=u;Pwd = ***;X=1'");
  // A very short password is removed where it is echoed as one, not inside ordinary words.
  EXPECT_EQ(scrubPassword("server does not exist; PWD=x;", "x"), "server does not exist; PWD=***;");
}

TEST(OpenFailureTest, MissingSqliteFileIsAnErrorAndNothingIsCreated) {
  testing::SqliteFile host;
  const auto missing = host.dir() / "missing.db";
  try {
    open("Provider=SQLite;Data Source=" + missing.string());
    FAIL() << "opened a missing file";
  } catch (const DatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("does not exist"), std::string::npos);
  }
  EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST(OpenFailureTest, FileThatIsNotADatabase) {
  testing::SqliteFile host;
  const auto junk = host.dir() / "junk.db";
  {
    FILE* f = fopen(junk.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fputs("this is not a database file, just some text long enough to have a header....", f);
    fclose(f);
  }
  EXPECT_THROW(open("Provider=SQLite;Data Source=" + junk.string()), DatabaseError);
}

TEST(OpenFailureTest, PasswordNeverInAFailedOdbcConnectMessage) {
  try {
    open("Provider=MSDASQL;Driver=NoSuchDriverXyz;Database=x;UID=u;PWD=secret");
    FAIL() << "connected through a driver that does not exist";
  } catch (const DatabaseError& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("NoSuchDriverXyz"), std::string::npos) << message;
    EXPECT_EQ(message.find("secret"), std::string::npos) << message;
    EXPECT_FALSE(e.sqlState().empty());
  }
}

TEST(OpenFailureTest, SqlServerWithMissingDriverFailsWithoutThePassword) {
  DriverEnv env("NoSuchSqlServerDriver");
  try {
    open("Provider=SQLOLEDB;Data Source=nohost;User ID=sa;Password=Pa55word;Connect Timeout=1");
    FAIL();
  } catch (const DatabaseError& e) {
    EXPECT_EQ(std::string(e.what()).find("Pa55word"), std::string::npos) << e.what();
  }
}

// A real FreeTDS login attempt against a closed local port: refused at once, no network wait.
TEST(OpenFailureTest, FreeTdsRefusedConnectionKeepsThePasswordOut) {
  DriverEnv env(nullptr);
  try {
    open(
        "Provider=SQLOLEDB;Data Source=127.0.0.1,1;User ID=sa;Password=Pa55word;"
        "Initial Catalog=x;Connect Timeout=2");
    FAIL();
  } catch (const DatabaseError& e) {
    EXPECT_EQ(std::string(e.what()).find("Pa55word"), std::string::npos) << e.what();
    EXPECT_FALSE(e.sqlState().empty()) << e.what();
  }
}

}  // namespace
}  // namespace dupsweep::db
