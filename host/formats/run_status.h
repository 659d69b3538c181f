// The exit statuses of `kestrel-host run`, which the bench reads to judge a scenario run,
// and which both bench and host use for their own exits.
#pragma once

namespace kestrel {

inline constexpr int run_passed = 0;
inline constexpr int run_expectation_failed = 1;
inline constexpr int run_bad_scenario = 2;  // malformed scenario, module name or command line
inline constexpr int run_host_error = 3;    // the module could not be loaded or broke a host rule

}  // namespace kestrel
