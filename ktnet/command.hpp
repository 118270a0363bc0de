// What every ktnet subcommand shares: how main runs it, and the exit statuses.
#pragma once

#include <functional>

#include "run_output.hpp"
#include "shop/shop_environment.hpp"

namespace CLI {
class App;
}

namespace ktnet {

// The subcommand the command line chose, bound to its options. main runs it once with the
// run's output, and exits with what it returns.
using Command = std::function<int(RunOutput& output)>;

// Exit statuses, the same for every subcommand (as diff has them); 5 and 128+N are in
// cli/exit_status.hpp.
namespace ktnet_status {
inline constexpr int success = 0;   // clean, or done
inline constexpr int problems = 1;  // problems found in the data (reported); nothing written
inline constexpr int trouble = 2;   // a bad command line, or a file that cannot be read or written
}  // namespace ktnet_status

// A subcommand: its name, and what adds it to the command line.
struct Subcommand {
    const char* name;
    void (*add)(CLI::App& app, Command& chosen, ShopEnvironment& env);
};

}  // namespace ktnet
