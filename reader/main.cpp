#include <iostream>
#include <string_view>
#include <vector>

#include "cli/character_locale.hpp"
#include "cli/console.hpp"
#include "cli/exit_status.hpp"
#include "cli/standard_descriptors.hpp"
#include "cli/stop_signals.hpp"
#include "cli/trace_from_environment.hpp"
#include "link/platform_port.hpp"
#include "reader.hpp"

int main(int argc, char** argv) {
    // Before anything is opened, so that no file can take a standard descriptor's number.
    if (!ktnet::open_missing_standard_descriptors()) return ktnet::exit_status::file_error;
    ktnet::install_stop_signal_handlers();
    // Without a UTF-8 locale, ASCII product strings still convert.
    (void)ktnet::configure_character_locale();
    ktnet::configure_standard_output();
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    ktnet::RunContext context;
    context.stop_signal = ktnet::pending_stop_signal;
    context.diagnose = [](std::string_view line) { std::cerr << "rdk: " << line << '\n'; };
    const auto port = ktnet::make_platform_port();
    ktnet::TraceFromEnvironment traced(*port, context.diagnose);
    return ktnet::run_reader(args, traced.port(), std::cout, context);
}
