#include "progress_bar.h"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace pq640admin {
namespace {

constexpr unsigned kBarWidth = 30;

// The library's callback carries no user data, so the one transfer in
// flight is described here.
struct Transfer {
  bool enabled = false;
  bool active = false;
  std::string label;
  unsigned passes = 1;
  unsigned pass = 0;
  std::uint32_t last_index = 0;
  unsigned long long last_permille = ~0ull;
};
Transfer g_transfer;

void PQ640_CALL Draw(std::uint32_t total, std::uint32_t index) {
  Transfer& t = g_transfer;
  if (!t.active) return;
  if (index < t.last_index && t.pass + 1 < t.passes) ++t.pass;
  t.last_index = index;
  const unsigned long long whole = static_cast<unsigned long long>(total) * t.passes;
  const unsigned long long done = static_cast<unsigned long long>(total) * t.pass + index;
  const unsigned long long permille = whole == 0 ? 1000 : done * 1000 / whole;
  if (permille == t.last_permille) return;  // redraw only when the bar moves
  t.last_permille = permille;
  std::fprintf(stderr, "\r%s", ProgressLine(t.label, done, whole, kBarWidth).c_str());
  std::fflush(stderr);
}

}  // namespace

void EnableProgress(bool quiet) { g_transfer.enabled = !quiet && isatty(STDERR_FILENO) == 1; }

ProgressScope::ProgressScope(std::string label, unsigned passes) {
  g_transfer.active = g_transfer.enabled;
  g_transfer.label = std::move(label);
  g_transfer.passes = passes == 0 ? 1 : passes;
  g_transfer.pass = 0;
  g_transfer.last_index = 0;
  g_transfer.last_permille = ~0ull;
}

void ClearProgressLine() {
  if (g_transfer.active && g_transfer.last_permille != ~0ull) {
    std::fprintf(stderr, "\r\033[K");  // clear the bar's line
    std::fflush(stderr);
    g_transfer.last_permille = ~0ull;
  }
}

ProgressScope::~ProgressScope() {
  ClearProgressLine();
  g_transfer.active = false;
}

PQ640_ProgressCallback ProgressScope::Callback() const {
  return g_transfer.active ? &Draw : nullptr;
}

std::string ProgressLine(const std::string& label, unsigned long long done,
                         unsigned long long total, unsigned width) {
  if (done > total) done = total;
  const unsigned long long filled = total == 0 ? width : done * width / total;
  const unsigned long long percent = total == 0 ? 100 : done * 100 / total;
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.resize(width, '.');
  return label + " [" + bar + "] " + std::to_string(percent) + "%";
}

}  // namespace pq640admin
