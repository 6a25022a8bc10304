#include "port/port_state.h"

#include <type_traits>

namespace pq640 {
namespace {

static_assert(std::is_trivially_destructible_v<PortState>);

PortState g_port_state;

}  // namespace

PortState& Port() { return g_port_state; }

void ResetPortState() { g_port_state = PortState{}; }

}  // namespace pq640
