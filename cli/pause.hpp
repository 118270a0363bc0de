// A pause of the calling thread, on every platform (the Windows build's thread model has no
// std::this_thread).
#pragma once

#include <chrono>

namespace ktnet {

void pause_for(std::chrono::milliseconds duration);

}  // namespace ktnet
