#include "replay_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace pq640bench {
namespace {

// Bounds every wait, so a client that never finishes its request cannot hang
// the benchmark.
constexpr int kRequestWaitMs = 5000;
constexpr int kStopCheckMs = 50;
// Bounds each send of the answer, for a client that stops reading.
constexpr timeval kSendWait{5, 0};

bool WaitReadable(int fd, int timeout_ms) {
  pollfd entry{fd, POLLIN, 0};
  return poll(&entry, 1, timeout_ms) > 0;
}

bool SendAll(int fd, const Bytes& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

ReplayServer::~ReplayServer() { Stop(); }

bool ReplayServer::Start(const std::string& address, std::uint16_t port, std::string* error) {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1 ||
      (ntohl(local.sin_addr.s_addr) >> 24) != 127) {
    *error = "not a loopback address: " + address;
    return false;
  }
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  if (listener_ >= 0) setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (listener_ < 0 || bind(listener_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      listen(listener_, 8) != 0) {
    *error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
    if (listener_ >= 0) close(listener_);
    listener_ = -1;
    return false;
  }
  thread_ = std::thread([this] { Run(); });
  return true;
}

void ReplayServer::Stop() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) close(listener_);
  listener_ = -1;
}

void ReplayServer::Serve(const Exchange* exchange, const Exchange* alternative) {
  received_.assign(exchange->request.size(), 0);
  exchange_ = exchange;
  const bool same_length = alternative != nullptr && alternative->request.size() == exchange->request.size();
  alternative_ = same_length ? alternative : nullptr;
}

void ReplayServer::Run() {
  while (!stopping_) {
    if (!WaitReadable(listener_, kStopCheckMs)) continue;
    const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, &kSendWait, sizeof kSendWait);
    Answer(connection);
    close(connection);
  }
}

void ReplayServer::Answer(int connection) {
  const Exchange* exchange = exchange_.load();
  if (exchange == nullptr) return;
  const Bytes& expected = exchange->request;
  std::size_t arrived = 0;
  while (arrived < expected.size()) {
    if (!WaitReadable(connection, kRequestWaitMs)) break;
    const ssize_t n = recv(connection, received_.data() + arrived, expected.size() - arrived, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    arrived += static_cast<std::size_t>(n);
  }
  const auto matches = [&](const Exchange* candidate) {
    return candidate != nullptr && arrived == candidate->request.size() &&
           std::equal(candidate->request.begin(), candidate->request.end(), received_.begin());
  };
  const Exchange* alternative = alternative_.load();
  const Exchange* answered = matches(exchange) ? exchange : matches(alternative) ? alternative : nullptr;
  if (answered == nullptr) {
    ++bad_requests_;
    return;
  }
  SendAll(connection, answered->response);
}

}  // namespace pq640bench
