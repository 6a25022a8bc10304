// Opening and closing the port run the part of the link that is selected.
#include "link/link_backend.h"

using namespace pq640;

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_OpenPort(void) { return ActiveLink().open(); }

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_ClosePort(void) { return ActiveLink().close(); }
