#include "file_io.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace pq640admin {
namespace {

std::string Reason(const std::string& what, const std::string& path) {
  return "cannot " + what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

std::optional<std::string> OutputPathProblem(const std::string& path, bool force) {
  if (path == "-") return std::nullopt;
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (std::filesystem::exists(status)) {
    if (std::filesystem::is_directory(status)) return path + " is a directory";
    if (!force) return path + " exists; add --force to overwrite it";
    return std::nullopt;
  }
  const auto parent = std::filesystem::path(path).parent_path();
  if (!parent.empty() && !std::filesystem::is_directory(parent, error)) {
    return "cannot write " + path + ": " + parent.string() + " is not a directory";
  }
  return std::nullopt;
}

std::optional<std::string> WriteOutput(const std::string& path, const std::string& text) {
  if (path == "-") {
    std::cout << text << std::flush;
    if (!std::cout) return "cannot write to standard output";
    return std::nullopt;
  }
  errno = 0;
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return Reason("write", path);
  file << text;
  file.close();
  if (!file) return Reason("write", path);
  return std::nullopt;
}

ReadResult ReadInput(const std::string& path) {
  errno = 0;
  std::ifstream file(path, std::ios::binary);
  if (!file) return {{}, Reason("read", path)};
  std::ostringstream content;
  content << file.rdbuf();
  if (file.bad()) return {{}, Reason("read", path)};
  return {content.str(), std::nullopt};
}

}  // namespace pq640admin
