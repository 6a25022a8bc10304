// The simulator in this process, holding the benchmark's own records, for the
// end-to-end comparison with the replay server.
#pragma once

#include <memory>
#include <string>

#include "pq640sim/simulator.h"
#include "scenario_data.h"

namespace pq640bench {

// Nothing (with a reason) when it cannot listen on `address`.
std::unique_ptr<pq640sim::Simulator> StartSimulator(const std::string& address, const DataSet& data,
                                                    std::string* error);

}  // namespace pq640bench
