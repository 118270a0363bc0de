// ktnet: the shop's jobs on PLU files and KT-NET scales, one subcommand each. Each subcommand
// lives in its own file and adds itself to the command line with add_<name>.
#include <CLI/CLI.hpp>
#include <iostream>
#include <optional>
#include <string>

#include "backup.hpp"
#include "check.hpp"
#include "cli/character_locale.hpp"
#include "cli/console.hpp"
#include "cli/exit_status.hpp"
#include "cli/standard_descriptors.hpp"
#include "cli/stop_signals.hpp"
#include "command.hpp"
#include "compare.hpp"
#include "export.hpp"
#include "import.hpp"
#include "link/platform_port.hpp"
#include "load.hpp"
#include "scan.hpp"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv) {
    // Before anything is opened, so that no file can take a standard descriptor's number.
    if (!ktnet::open_missing_standard_descriptors()) return ktnet::ktnet_status::trouble;
    ktnet::install_stop_signal_handlers();
    // Without a UTF-8 locale, ASCII product strings still convert.
    (void)ktnet::configure_character_locale();
#ifdef _WIN32
    // The same bytes on every platform: CSV rows end in CR LF already, reports in LF.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    CLI::App app{"ktnet: the shop's jobs on KT-NET scales and their PLU files.", "ktnet"};
    app.require_subcommand(1);
    app.footer(
        "Exit status: 0 success, 1 problems found (in the data, or a scale that failed, or "
        "sources that differ), 2 a bad command line, a file that cannot be read or written, or "
        "no controller, 5 the controller is held by another run, 128+N stopped by signal N. "
        "'ktnet SUBCOMMAND --help' tells more.");
    ktnet::ShopEnvironment env;
    env.context.stop_signal = [] { return ktnet::pending_stop_signal(); };
    env.context.diagnose = [](std::string_view line) { std::cerr << "ktnet: " << line << '\n'; };
    env.open_port = [] { return ktnet::make_platform_port(); };
    env.error_is_terminal = ktnet::standard_error_is_terminal();
    env.input_is_terminal = ktnet::standard_input_is_terminal();
    env.read_answer = []() -> std::optional<std::string> {
        std::string line;
        if (!std::getline(std::cin, line)) return std::nullopt;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
    };
    ktnet::Command chosen;
    ktnet::add_scan(app, chosen, env);
    ktnet::add_backup(app, chosen, env);
    ktnet::add_load(app, chosen, env);
    ktnet::add_compare(app, chosen, env);
    ktnet::add_check(app, chosen);
    ktnet::add_export(app, chosen, env);
    ktnet::add_import(app, chosen, env);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? ktnet::ktnet_status::success : ktnet::ktnet_status::trouble;
    }
    const int status = chosen(std::cout, std::cerr);
    // A stop signal ends the run with its conventional status, whatever the run returned.
    if (const int signal = ktnet::pending_stop_signal())
        return ktnet::exit_status::stopped_by(signal);
    return status;
}
