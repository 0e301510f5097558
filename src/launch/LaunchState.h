#pragma once

namespace brevlin {

// Where a shortcut's launches stand: one of them runs, or one waits for its turn, or neither.
enum class LaunchState { idle, waiting, running };

} // namespace brevlin
