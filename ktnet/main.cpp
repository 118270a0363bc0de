// ktnet: the shop's jobs on PLU files and KT-NET scales, one subcommand each (commands.cpp).
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/character_locale.hpp"
#include "cli/console.hpp"
#include "cli/standard_descriptors.hpp"
#include "cli/stop_signals.hpp"
#include "command.hpp"
#include "link/platform_port.hpp"
#include "run_words.hpp"

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
    const std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + argc);
    for (const std::string& w : words)
        env.command_line += (env.command_line.empty() ? "" : " ") + w;
    return ktnet::run_words(words, env, std::cout, std::cerr);
}
