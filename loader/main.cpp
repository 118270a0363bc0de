#include <iostream>
#include <string_view>
#include <vector>

#include "cli/character_locale.hpp"
#include "cli/console.hpp"
#include "cli/exit_status.hpp"
#include "cli/standard_descriptors.hpp"
#include "cli/stop_signals.hpp"
#include "link/platform_port.hpp"
#include "loader.hpp"

int main(int argc, char** argv) {
    // Before anything is opened, so that no file can take a standard descriptor's number.
    if (!ktnet::open_missing_standard_descriptors()) return ktnet::exit_status::file_error;
    ktnet::install_stop_signal_handlers();
    // Without a UTF-8 locale, ASCII product strings still convert.
    (void)ktnet::configure_character_locale();
    ktnet::configure_standard_output();
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const auto port = ktnet::make_platform_port();
    const int status = ktnet::run_loader(args, *port, std::cout);
    // A stop signal ends the run with its conventional status, whatever the run returned.
    if (const int signal = ktnet::pending_stop_signal()) {
        return ktnet::exit_status::stopped_by(signal);
    }
    return status;
}
