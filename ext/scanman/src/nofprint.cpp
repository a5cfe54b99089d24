// Built when libfprint is absent: SCANMAN_BACKEND=fprint is then refused.
#include "Core.h"

namespace scanman {
std::unique_ptr<Backend> MakeFprintBackend() {
    return nullptr;
}
} // namespace scanman
