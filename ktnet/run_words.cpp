#include "run_words.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <string_view>

#include "cli/exit_status.hpp"
#include "command.hpp"
#include "commands.hpp"

namespace ktnet {

namespace {

// The subcommand the words name, for the prefix of its errors: the first word that is one.
std::string chosen_name(const std::vector<std::string>& words) {
    for (const std::string& w : words) {
        for (const Subcommand& s : subcommands())
            if (w == s.name) return s.name;
    }
    return {};
}

bool asks_json(const std::vector<std::string>& words) {
    return std::find(words.begin(), words.end(), "--json") != words.end();
}

}  // namespace

int run_words(const std::vector<std::string>& words, ShopEnvironment& env, std::ostream& out,
              std::ostream& err, const std::function<void(RunOutput&)>& prepare) {
    CLI::App app{"ktnet: the shop's jobs on KT-NET scales and their PLU files.", "ktnet"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "ktnet " KTNET_VERSION);
    app.footer(
        "Exit status: 0 success, 1 problems found (in the data, or a scale that failed, or "
        "sources that differ), 2 a bad command line, a file that cannot be read or written, or "
        "no controller, 5 the controller is held by another run, 128+N stopped by signal N. "
        "'ktnet SUBCOMMAND --help' tells more.");
    Command chosen;
    for (const Subcommand& s : subcommands()) s.add(app, chosen, env);

    const std::string name = chosen_name(words);
    RunOutput output(out, err, name.empty() ? "ktnet" : "ktnet " + name, env.error_is_terminal);
    if (prepare) prepare(output);
    try {
        std::vector<std::string> reversed(words.rbegin(), words.rend());  // as CLI11 takes them
        app.parse(reversed);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e, out, err);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e, out, err);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e, out, err);
    } catch (const CLI::ParseError& e) {
        output.set_json(asks_json(words));
        output.error(e.what());
        output.err() << "Run '" << output.prefix() << " --help' for more information.\n";
        return output.finish(ktnet_status::trouble);
    }
    int status = chosen(output);
    // A stop signal ends the run with its conventional status, whatever the run returned.
    if (const int signal = env.context.stop_signal()) status = exit_status::stopped_by(signal);
    return output.finish(status);
}

}  // namespace ktnet
