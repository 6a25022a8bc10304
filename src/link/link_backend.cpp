#include "link/link_backend.h"

namespace pq640 {

const LinkBackend& ActiveLink() {
  return Port().link_kind == LinkKind::kTcp ? kTcpBackend : kSerialBackend;
}

}  // namespace pq640
