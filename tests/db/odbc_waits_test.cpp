// How long the ODBC backend waits, and what it leaves behind, against real parts: a SQLite file
// locked by a second connection through the unixODBC driver manager and the SQLite ODBC driver,
// and FreeTDS connecting to a named instance whose SQL Server Browser is a UDP socket of the
// test's own on 127.0.0.1.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <optional>
#include <string>
#include <thread>

#include "platform/db/db.h"
#include "support/sqlite_file.h"

namespace dupsweep::db {
namespace {

using namespace std::chrono_literals;

// A generous bound on a call that must end by itself (the driver's own default wait is 100 s and
// more); it guards against hanging, it does not measure speed.
constexpr auto kMustEndWithin = 60s;

// The failure message of `call`, run on a thread of its own; std::nullopt when it did not fail.
// `release` runs when the call has not ended within kMustEndWithin, so that it can end.
template <class Call, class Release>
std::optional<std::string> failureOf(Call call, Release release, bool& ended) {
  std::packaged_task<std::optional<std::string>()> task([call]() -> std::optional<std::string> {
    try {
      call();
      return std::nullopt;
    } catch (const DatabaseError& e) {
      // The kind leads the text, so that a caller can ask for it too.
      const char* kinds[] = {"missing table", "link lost", "locked", "damaged", "constraint",
                             "other"};
      return std::string(kinds[static_cast<int>(e.kind())]) + ": " + e.what();
    }
  });
  auto result = task.get_future();
  std::thread worker(std::move(task));
  ended = result.wait_for(kMustEndWithin) == std::future_status::ready;
  if (!ended) release();
  worker.join();
  return result.get();
}

std::string odbcSqlite(const std::filesystem::path& file, const std::string& extra = {}) {
  return "Provider=MSDASQL;Driver=SQLite3;Database=" + file.string() + extra;
}

TEST(OdbcWaitTest, AWriteLockHeldByAnotherConnectionEndsInLockedNotInAHang) {
  testing::SqliteFile host;
  host.exec("CREATE TABLE T(a INTEGER)");
  // The host's own short Timeout is used as given; without one the SQLite provider's 5 s apply.
  for (const std::string extra : {";Timeout=200", ""}) {
    SCOPED_TRACE(extra.empty() ? "default wait" : extra);
    auto conn = open(odbcSqlite(host.path(), extra));
    host.exec("BEGIN IMMEDIATE; INSERT INTO T VALUES (1)");
    bool ended = false;
    const auto failure = failureOf([&conn] { conn->execute("INSERT INTO T VALUES (2)"); },
                                   [&host] { host.exec("ROLLBACK"); }, ended);
    EXPECT_TRUE(ended) << "the statement waited for the lock past " << kMustEndWithin.count()
                       << " s";
    ASSERT_TRUE(failure) << "the insert succeeded under another writer's lock";
    EXPECT_EQ(failure->rfind("locked: ", 0), 0u) << *failure;
    EXPECT_NE(failure->find("locked", 8), std::string::npos) << *failure;
    if (ended) host.exec("ROLLBACK");
    // Once the lock is gone the connection writes again.
    EXPECT_EQ(conn->execute("INSERT INTO T VALUES (3)"), 1);
  }
  EXPECT_EQ(host.scalar("SELECT count(*) FROM T WHERE a = 3"), 2);
}

TEST(OdbcWaitTest, MissingFileThroughTheSqliteDriverIsAnErrorAndNotCreated) {
  testing::SqliteFile host;
  const auto missing = host.dir() / "missing.db";
  EXPECT_THROW(open(odbcSqlite(missing)), DatabaseError);
  EXPECT_FALSE(std::filesystem::exists(missing));
  // A host that asks for creation gets it.
  open(odbcSqlite(missing, ";NoCreat=0"));
  EXPECT_TRUE(std::filesystem::exists(missing));
}

// A socket on 127.0.0.1 with a port of the system's choosing, closed afterwards.
class LoopbackSocket {
 public:
  explicit LoopbackSocket(int type) : fd_(::socket(AF_INET, type | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      ADD_FAILURE() << "cannot bind a socket on 127.0.0.1";
    port_ = ntohs(address.sin_port);
  }
  ~LoopbackSocket() { close(); }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int fd() const { return fd_; }
  int port() const { return port_; }

  // True when the socket becomes readable within `wait`.
  bool readable(std::chrono::milliseconds wait) const {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(wait.count())) == 1;
  }

 private:
  int fd_;
  int port_ = 0;
};

// A stand-in for the SQL Server Browser: it reads one question and, when `answer` is set, sends
// it back as a SVR_RESP message; silent otherwise.
class Browser {
 public:
  explicit Browser(std::optional<std::string> answer) {
    thread_ = std::thread([this, answer] {
      if (!socket_.readable(10s)) return;
      char buffer[512];
      sockaddr_in from{};
      socklen_t length = sizeof from;
      const ssize_t got = ::recvfrom(socket_.fd(), buffer, sizeof buffer, 0,
                                     reinterpret_cast<sockaddr*>(&from), &length);
      if (got > 0) question_.assign(buffer, static_cast<size_t>(got));
      if (!answer) return;
      std::string reply = {'\x05', static_cast<char>(answer->size() & 0xFF),
                           static_cast<char>(answer->size() >> 8)};
      reply += *answer;
      ::sendto(socket_.fd(), reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from),
               length);
    });
  }
  ~Browser() { thread_.join(); }
  int port() const { return socket_.port(); }
  // The first question received (valid after the connect attempt has ended).
  const std::string& question() const { return question_; }

 private:
  LoopbackSocket socket_{SOCK_DGRAM};
  std::string question_;
  std::thread thread_;
};

ConnectionTarget namedInstanceTarget(const Browser& browser, int connectTimeout) {
  ConnectionTarget t = parseConnectionString(
      R"(Provider=SQLOLEDB;Data Source=127.0.0.1\Inst1;User ID=sa;Password=Pa55word;)"
      "Initial Catalog=x;Connect Timeout=" +
      std::to_string(connectTimeout));
  t.namedInstance->browserPort = browser.port();
  return t;
}

class NamedInstanceTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("DUPSWEEP_ODBC_DRIVER", "FreeTDS", 1); }
  void TearDown() override { unsetenv("DUPSWEEP_ODBC_DRIVER"); }
};

TEST_F(NamedInstanceTest, SilentBrowserFailsWithinTheConnectTimeoutNamingTheInstance) {
  Browser browser(std::nullopt);
  bool ended = false;
  const auto target = namedInstanceTarget(browser, 1);
  const auto failure = failureOf([&target] { open(target); }, [] {}, ended);
  EXPECT_TRUE(ended);
  ASSERT_TRUE(failure);
  EXPECT_NE(failure->find("\"Inst1\""), std::string::npos) << *failure;
  EXPECT_NE(failure->find("Connect Timeout of 1 s"), std::string::npos) << *failure;
  EXPECT_EQ(failure->find("Pa55word"), std::string::npos) << *failure;
  EXPECT_EQ(browser.question(), std::string("\x04Inst1", 6) + '\0');
}

TEST_F(NamedInstanceTest, TheBrowsersPortIsTheOneConnectedTo) {
  // The "server" takes the driver's first connection and then stops listening, so that the
  // driver's further attempts are refused and the login fails at once.
  LoopbackSocket server(SOCK_STREAM);
  ASSERT_EQ(::listen(server.fd(), 1), 0);
  std::atomic<bool> connected{false};
  std::thread accepting([&] {
    if (server.readable(10s)) {
      const int fd = ::accept(server.fd(), nullptr, nullptr);
      connected = fd >= 0;
      if (fd >= 0) ::close(fd);
    }
    server.close();
  });
  {
    Browser browser("ServerName;DBHOST;InstanceName;INST1;IsClustered;No;Version;16.0.1000.6;tcp;" +
                    std::to_string(server.port()) + ";;");
    EXPECT_THROW(open(namedInstanceTarget(browser, 5)), DatabaseError);
  }
  accepting.join();
  EXPECT_TRUE(connected) << "the driver did not connect to the port the browser named";
}

TEST_F(NamedInstanceTest, AnInstanceWithoutATcpPortIsNamedInTheError) {
  Browser browser("ServerName;DBHOST;InstanceName;INST1;IsClustered;No;np;\\\\DBHOST\\pipe\\sql;;");
  try {
    open(namedInstanceTarget(browser, 5));
    FAIL() << "connected without a port";
  } catch (const DatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("names no TCP port for the instance \"Inst1\""),
              std::string::npos)
        << e.what();
  }
}

}  // namespace
}  // namespace dupsweep::db
