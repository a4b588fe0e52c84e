// How many threads one computation may use.
#pragma once

namespace kx::models {

/// kTwoThreads runs independent parts of a computation (the re-pricings of the tree Greeks, the
/// elements and sides of the skews) on the calling thread and one helper thread, which the call
/// joins before it returns or throws. The results are the same doubles with either value.
enum class Parallelism { kOneThread, kTwoThreads };

}  // namespace kx::models
