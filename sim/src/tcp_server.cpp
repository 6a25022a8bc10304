#include "tcp_server.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "fd_channel.h"

namespace pq640sim {
namespace {

constexpr int kSliceMs = 20;
constexpr int kBacklog = 4;

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

TcpServer::TcpServer(SessionContext context) : context_(std::move(context)) {}

TcpServer::~TcpServer() { Stop(); }

bool TcpServer::Start(const std::string& address, std::uint16_t port, std::string* error) {
  if (!stop_.Valid()) {
    *error = "cannot create the stop pipe";
    return false;
  }
  address_.sin_family = AF_INET;
  address_.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &address_.sin_addr) != 1) {
    *error = "not an IPv4 address: " + address;
    return false;
  }
  if (!Listen(error)) return false;
  ApplyFaults();
  thread_ = std::thread([this] { Run(); });
  return true;
}

void TcpServer::Stop() {
  stop_.Raise();
  if (thread_.joinable()) thread_.join();
  CloseListener();
}

bool TcpServer::Listen(std::string* error) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (error) *error = SystemError("socket");
    return false;
  }
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address_), sizeof address_) != 0 ||
      listen(fd, kBacklog) != 0) {
    if (error) *error = SystemError("bind/listen");
    close(fd);
    return false;
  }
  listen_fd_ = fd;
  return true;
}

void TcpServer::CloseListener() {
  if (listen_fd_ >= 0) close(listen_fd_);
  listen_fd_ = -1;
}

void TcpServer::ApplyFaults() {
  const FaultState::Versioned current = context_.faults.GetVersioned();
  if (current.faults.refuse_connections) {
    CloseListener();
  } else if (listen_fd_ < 0) {
    Listen(nullptr);  // retried on the next slice if the address is taken meanwhile
  }
  if (current.generation != applied_generation_) {
    applied_generation_ = current.generation;
    context_.faults.MarkApplied(current.generation);
  }
}

void TcpServer::Run() {
  while (!stop_.Raised()) {
    ApplyFaults();
    if (listen_fd_ < 0) {
      stop_.SleepFor(kSliceMs);
      continue;
    }
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {stop_.ReadFd(), POLLIN, 0}};
    if (poll(fds, 2, kSliceMs) <= 0 || (fds[0].revents & POLLIN) == 0) continue;
    const int connection = accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (connection < 0) continue;
    {
      FdChannel channel(connection, FdChannel::Kind::kSocket, stop_, [this] { ApplyFaults(); });
      Session session(context_, channel);
      session.Run();
    }
    close(connection);
  }
}

}  // namespace pq640sim
