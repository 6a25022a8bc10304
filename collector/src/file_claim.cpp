#include "file_claim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <span>

#include "record_layout.h"

namespace pq640collect {
namespace {

class FileClaim : public Claim {
 public:
  explicit FileClaim(int fd) : fd_(fd) {}
  ~FileClaim() override { close(fd_); }  // closing drops the flock
  FileClaim(const FileClaim&) = delete;
  FileClaim& operator=(const FileClaim&) = delete;

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<Claim> TryFileClaim(const std::string& claims, const std::string& terminal) {
  const std::filesystem::path dir = claims;
  std::error_code ignored;
  std::filesystem::create_directories(dir, ignored);
  // Hex of the name: any terminal name becomes a safe file name.
  const std::string file =
      HexDigits(std::span(reinterpret_cast<const std::uint8_t*>(terminal.data()), terminal.size())) + ".lock";
  const int fd = open((dir / file).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) throw StoreError("cannot create the claim file in " + dir.string() + ": " + std::strerror(errno));
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return nullptr;
  }
  return std::make_unique<FileClaim>(fd);
}

}  // namespace pq640collect
