// One libpq connection, as the PostgreSQL store uses it: statements whose
// failures are StoreErrors with the server's words, transactions, a
// connection the server dropped opened again before the next statement, and
// the session advisory locks that claim terminals, taken again with it.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "postgres_values.h"
#include "store.h"

namespace pq640collect::postgres {

class Connection {
 public:
  // Throws StoreError when the server cannot be reached. A read-only
  // connection refuses every write on the server's side.
  Connection(const std::string& url, bool read_only);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  std::unique_ptr<Result> Query(const std::string& sql, const Params& params = {});
  void Exec(const std::string& sql, const Params& params = {}) { Query(sql, params); }

  // Runs `body` between BEGIN and COMMIT; any exception rolls it back and
  // goes on. A dropped connection is not reopened inside a transaction.
  template <typename Body>
  void InTransaction(const Body& body) {
    Exec("BEGIN");
    in_transaction_ = true;
    try {
      body();
      Exec("COMMIT");
      in_transaction_ = false;
    } catch (...) {
      in_transaction_ = false;
      Rollback();
      throw;
    }
  }

  // The advisory lock `key` as a claim held until it is dropped, or nothing
  // when another session holds it.
  std::unique_ptr<Claim> TryClaim(std::int64_t key);
  // Releases a claim's lock; never throws, as it runs while a claim is dropped.
  void Unlock(std::int64_t key) noexcept;

 private:
  void Prepare();
  void Reconnect();
  bool TryLock(std::int64_t key);
  void Rollback() noexcept;

  PGconn* connection_;
  bool read_only_;
  bool in_transaction_ = false;
  std::set<std::int64_t> held_;  // the advisory locks of this process's live claims
};

}  // namespace pq640collect::postgres
