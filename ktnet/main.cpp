// ktnet: the shop's jobs on PLU files and KT-NET scales, one subcommand each (commands.cpp).
#include <CLI/CLI.hpp>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "cli/character_locale.hpp"
#include "cli/console.hpp"
#include "cli/exit_status.hpp"
#include "cli/standard_descriptors.hpp"
#include "cli/stop_signals.hpp"
#include "command.hpp"
#include "commands.hpp"
#include "link/platform_port.hpp"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

// The subcommand a command line names, for the prefix of its errors: its first word that is
// one.
std::string chosen_name(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        for (const ktnet::Subcommand& s : ktnet::subcommands())
            if (std::string_view(argv[i]) == s.name) return s.name;
    }
    return {};
}

bool asks_json(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]) == "--json") return true;
    return false;
}

}  // namespace

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
    app.set_version_flag("--version", "ktnet " KTNET_VERSION);
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
    for (int i = 1; i < argc; ++i) env.command_line += (i > 1 ? " " : "") + std::string(argv[i]);
    ktnet::Command chosen;
    for (const ktnet::Subcommand& s : ktnet::subcommands()) s.add(app, chosen, env);

    const std::string name = chosen_name(argc, argv);
    ktnet::RunOutput output(std::cout, std::cerr, name.empty() ? "ktnet" : "ktnet " + name,
                            env.error_is_terminal);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        output.set_json(asks_json(argc, argv));
        output.error(e.what());
        output.err() << "Run '" << output.prefix() << " --help' for more information.\n";
        return output.finish(ktnet::ktnet_status::trouble);
    }
    int status = chosen(output);
    // A stop signal ends the run with its conventional status, whatever the run returned.
    if (const int signal = ktnet::pending_stop_signal())
        status = ktnet::exit_status::stopped_by(signal);
    return output.finish(status);
}
