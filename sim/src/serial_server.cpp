#include "serial_server.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "fd_channel.h"

namespace pq640sim {
namespace {

constexpr int kSliceMs = 20;

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

std::uint32_t SpeedToBaud(speed_t speed) {
  struct Entry {
    speed_t speed;
    std::uint32_t baud;
  };
  static constexpr std::array<Entry, 19> kTable{{
      {B0, 0},          {B300, 300},       {B600, 600},       {B1200, 1200},
      {B1800, 1800},    {B2400, 2400},     {B4800, 4800},     {B9600, 9600},
      {B19200, 19200},  {B38400, 38400},   {B57600, 57600},   {B115200, 115200},
      {B230400, 230400}, {B460800, 460800}, {B500000, 500000}, {B576000, 576000},
      {B921600, 921600}, {B1000000, 1000000}, {B2000000, 2000000},
  }};
  for (const Entry& entry : kTable) {
    if (entry.speed == speed) return entry.baud;
  }
  return 0;
}

}  // namespace

SerialServer::SerialServer(SessionContext context) : context_(std::move(context)) {
  context_.on_frame = [this] { context_.stats.RecordBaud(CurrentBaud()); };
}

SerialServer::~SerialServer() { Stop(); }

std::optional<std::string> SerialServer::Start(const std::string& link_path, std::string* error) {
  if (!stop_.Valid()) {
    *error = "cannot create the stop pipe";
    return std::nullopt;
  }
  if (!OpenPty(error)) return std::nullopt;
  if (!link_path.empty() && !CreateLink(link_path, error)) {
    Stop();
    return std::nullopt;
  }
  thread_ = std::thread([this] { Run(); });
  return slave_path_;
}

bool SerialServer::OpenPty(std::string* error) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) {
    *error = SystemError("posix_openpt");
    return false;
  }
  std::lock_guard lock(fd_mutex_);
  master_fd_ = master;
  fcntl(master_fd_, F_SETFD, FD_CLOEXEC);
  char path[PATH_MAX];
  if (grantpt(master_fd_) != 0 || unlockpt(master_fd_) != 0 ||
      ptsname_r(master_fd_, path, sizeof path) != 0) {
    *error = SystemError("grantpt/unlockpt/ptsname");
    return false;
  }
  slave_path_ = path;
  slave_fd_ = open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_fd_ < 0) {
    *error = SystemError("open " + slave_path_);
    return false;
  }
  // A serial line carries bytes as they are: no echo, no line editing, no
  // newline translation. 9600 baud until the host programs its own rate.
  termios settings{};
  if (tcgetattr(slave_fd_, &settings) != 0) {
    *error = SystemError("tcgetattr");
    return false;
  }
  cfmakeraw(&settings);
  cfsetispeed(&settings, B9600);
  cfsetospeed(&settings, B9600);
  if (tcsetattr(slave_fd_, TCSANOW, &settings) != 0) {
    *error = SystemError("tcsetattr");
    return false;
  }
  const int flags = fcntl(master_fd_, F_GETFL);
  if (flags < 0 || fcntl(master_fd_, F_SETFL, flags | O_NONBLOCK) != 0) {
    *error = SystemError("fcntl O_NONBLOCK");
    return false;
  }
  return true;
}

bool SerialServer::CreateLink(const std::string& link_path, std::string* error) {
  struct stat existing {};
  if (lstat(link_path.c_str(), &existing) == 0) {
    if (!S_ISLNK(existing.st_mode)) {
      *error = link_path + " exists and is not a symlink";
      return false;
    }
    unlink(link_path.c_str());
  }
  if (symlink(slave_path_.c_str(), link_path.c_str()) != 0) {
    *error = SystemError("symlink " + link_path);
    return false;
  }
  link_path_ = link_path;
  return true;
}

void SerialServer::RemoveLink() {
  if (link_path_.empty()) return;
  // Only our own link: another simulator may have taken the name meanwhile.
  char target[PATH_MAX];
  const ssize_t length = readlink(link_path_.c_str(), target, sizeof target - 1);
  if (length >= 0 && std::string(target, static_cast<std::size_t>(length)) == slave_path_) {
    unlink(link_path_.c_str());
  }
  link_path_.clear();
}

void SerialServer::Stop() {
  stop_.Raise();
  if (thread_.joinable()) thread_.join();
  RemoveLink();
  std::lock_guard lock(fd_mutex_);
  if (slave_fd_ >= 0) close(slave_fd_);
  if (master_fd_ >= 0) close(master_fd_);
  slave_fd_ = master_fd_ = -1;
}

std::uint32_t SerialServer::CurrentBaud() const {
  std::lock_guard lock(fd_mutex_);
  termios settings{};
  if (slave_fd_ < 0 || tcgetattr(slave_fd_, &settings) != 0) return 0;
  return SpeedToBaud(cfgetospeed(&settings));
}

void SerialServer::Run() {
  FdChannel channel(master_fd_, FdChannel::Kind::kPty, stop_);
  while (!stop_.Raised()) {
    Session session(context_, channel);
    session.Run();
    stop_.SleepFor(kSliceMs);
  }
}

}  // namespace pq640sim
