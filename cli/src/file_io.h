// Files the tool reads and writes. A file is never overwritten unless the
// user said --force, "-" means standard output, and a failure names the OS's
// reason ("No such file or directory").
#pragma once

#include <optional>
#include <string>

namespace pq640admin {

// Why `path` may not be written, checked before the terminal is contacted;
// nothing when it may.
std::optional<std::string> OutputPathProblem(const std::string& path, bool force);

// Writes text to the file (or standard output for "-"); the error text, or
// nothing on success.
std::optional<std::string> WriteOutput(const std::string& path, const std::string& text);

struct ReadResult {
  std::string content;
  std::optional<std::string> error;
};
ReadResult ReadInput(const std::string& path);

}  // namespace pq640admin
