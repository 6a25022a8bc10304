// A progress bar on stderr, drawn from the library's progress callback while
// a long transfer runs. Only on a terminal: redirected stderr and --quiet
// stay silent, so logs and pipes get no control characters.
#pragma once

#include <pq640/pq640.h>

#include <string>

namespace pq640admin {

// Decided once per run, before any transfer.
void EnableProgress(bool quiet);

// One transfer. `passes` is how often the index runs from 0 to the total
// (the bulk add reports sending and then the answers: 2). The line is
// cleared when the scope ends.
class ProgressScope {
 public:
  ProgressScope(std::string label, unsigned passes = 1);
  ~ProgressScope();
  ProgressScope(const ProgressScope&) = delete;
  ProgressScope& operator=(const ProgressScope&) = delete;

  // Null when progress is not drawn, so the library skips the calls.
  PQ640_ProgressCallback Callback() const;
};

// Clears a bar drawn on the line, so that a message that follows starts on a
// clean line; the bar is drawn again on its next step.
void ClearProgressLine();

// The bar for `done` of `total` steps, `width` cells wide (pure, for tests).
std::string ProgressLine(const std::string& label, unsigned long long done,
                         unsigned long long total, unsigned width);

}  // namespace pq640admin
