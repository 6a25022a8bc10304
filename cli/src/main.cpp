// pq640-admin: administers one terminal from the command line through the
// library's public C interface.
#include "command_line.h"

int main(int argc, char** argv) { return pq640admin::RunAdmin(argc, argv); }
