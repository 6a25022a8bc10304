// What a PQ640_ResultCode means, in words for the person at the terminal.
#pragma once

#include <pq640/pq640.h>

namespace pq640admin {

const char* ResultMeaning(PQ640_ResultCode code);

}  // namespace pq640admin
