// pq640-admin: administers one terminal from the command line through the
// library's public C interface.
#include <cstdio>
#include <exception>

#include "command_line.h"

int main(int argc, char** argv) {
  try {
    return pq640admin::RunAdmin(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "pq640-admin: internal error: %s\n", error.what());
  } catch (...) {
    std::fprintf(stderr, "pq640-admin: internal error\n");
  }
  return 1;
}
