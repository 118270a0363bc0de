// What every ktnet subcommand shares: how main runs it, and the exit statuses.
#pragma once

#include <functional>
#include <iosfwd>

namespace ktnet {

// The subcommand the command line chose, bound to its options. main runs it once, with the
// standard output and standard error streams, and exits with what it returns.
using Command = std::function<int(std::ostream& out, std::ostream& err)>;

// Exit statuses, the same for every subcommand (as diff has them).
namespace ktnet_status {
inline constexpr int success = 0;   // clean, or done
inline constexpr int problems = 1;  // problems found in the data (reported); nothing written
inline constexpr int trouble = 2;   // a bad command line, or a file that cannot be read or written
}  // namespace ktnet_status

}  // namespace ktnet
