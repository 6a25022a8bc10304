#include "postgres_connection.h"

#include <vector>

namespace pq640collect::postgres {
namespace {

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

class AdvisoryClaim : public Claim {
 public:
  AdvisoryClaim(Connection& connection, std::int64_t key) : connection_(connection), key_(key) {}
  ~AdvisoryClaim() override { connection_.Unlock(key_); }
  AdvisoryClaim(const AdvisoryClaim&) = delete;
  AdvisoryClaim& operator=(const AdvisoryClaim&) = delete;

 private:
  Connection& connection_;
  std::int64_t key_;
};

}  // namespace

Connection::Connection(const std::string& url, bool read_only)
    : connection_(PQconnectdb(url.c_str())), read_only_(read_only) {
  if (PQstatus(connection_) != CONNECTION_OK) {
    const std::string message = PQerrorMessage(connection_);
    PQfinish(connection_);
    throw StoreError("PostgreSQL: cannot connect: " + Trimmed(message));
  }
  Prepare();
}

Connection::~Connection() { PQfinish(connection_); }

std::unique_ptr<Result> Connection::Query(const std::string& sql, const Params& params) {
  if (!in_transaction_) Reconnect();
  std::vector<const char*> values;
  for (const auto& param : params) values.push_back(param ? param->c_str() : nullptr);
  PGresult* raw = PQexecParams(connection_, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(),
                               nullptr, nullptr, 0);
  const ExecStatusType status = PQresultStatus(raw);
  if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
    // Without a result (the connection broke) the text is the connection's.
    std::string message = raw != nullptr ? Trimmed(PQresultErrorMessage(raw)) : "";
    if (message.empty()) message = Trimmed(PQerrorMessage(connection_));
    if (message.empty()) message = "the server did not answer (status " + std::to_string(status) + ")";
    PQclear(raw);
    throw StoreError("PostgreSQL: " + message);
  }
  return std::make_unique<Result>(raw);
}

std::unique_ptr<Claim> Connection::TryClaim(std::int64_t key) {
  if (!TryLock(key)) return nullptr;
  held_.insert(key);
  return std::make_unique<AdvisoryClaim>(*this, key);
}

// A failed unlock leaves the lock to the end of the session. A claim lost
// with its session is not this process's to unlock.
void Connection::Unlock(std::int64_t key) noexcept {
  if (held_.erase(key) == 0) return;
  try {
    Exec("SELECT pg_advisory_unlock($1)", {std::to_string(key)});
  } catch (const StoreError&) {
  }
}

void Connection::Prepare() {
  Exec("SET client_min_messages = warning");
  if (read_only_) Exec("SET default_transaction_read_only = on");
}

// A connection the server dropped (a restart, a network cut) is opened
// again before the statement; the caller's cycle fails only when that does
// not work, and a later cycle tries again.
void Connection::Reconnect() {
  if (PQstatus(connection_) == CONNECTION_OK) return;
  PQreset(connection_);
  if (PQstatus(connection_) != CONNECTION_OK) {
    throw StoreError("PostgreSQL: the connection is lost and could not be opened again: " +
                     Trimmed(PQerrorMessage(connection_)));
  }
  Prepare();
  // Advisory locks end with their session. The claims this process still
  // holds are taken again; one that another collector took in between ends
  // the cycle here rather than let two processes sync one terminal.
  bool lost = false;
  for (auto key = held_.begin(); key != held_.end();) {
    if (TryLock(*key)) {
      ++key;
    } else {
      key = held_.erase(key);
      lost = true;
    }
  }
  if (lost) {
    throw StoreError("PostgreSQL: the connection was opened again, but another collector claimed this "
                     "worker's terminal in between; this cycle ends and a later one syncs it");
  }
}

bool Connection::TryLock(std::int64_t key) {
  return Query("SELECT pg_try_advisory_lock($1)", {std::to_string(key)})->Text(0, 0) == "t";
}

void Connection::Rollback() noexcept { PQclear(PQexec(connection_, "ROLLBACK")); }

}  // namespace pq640collect::postgres
