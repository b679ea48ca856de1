// Waiting on a condition instead of sleeping a fixed time.
#pragma once

#include <functional>

// Checks done() every 10 ms until it holds (true) or limitMs have passed (false).
bool WaitFor(const std::function<bool()>& done, int limitMs = 10000);
