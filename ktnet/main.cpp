// ktnet: the shop's jobs on PLU files and KT-NET scales, one subcommand each. Each subcommand
// lives in its own file and adds itself to the command line with add_<name>.
#include <CLI/CLI.hpp>
#include <iostream>

#include "check.hpp"
#include "command.hpp"
#include "export.hpp"
#include "import.hpp"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    // The same bytes on every platform: CSV rows end in CR LF already, reports in LF.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    CLI::App app{"ktnet: check, export and import PLU files of KT-NET scales.", "ktnet"};
    app.require_subcommand(1);
    app.footer(
        "Exit status: 0 success, 1 problems found in the data (nothing written), 2 a bad command "
        "line or a file that cannot be read or written. 'ktnet SUBCOMMAND --help' tells more.");
    ktnet::Command chosen;
    ktnet::add_check(app, chosen);
    ktnet::add_export(app, chosen);
    ktnet::add_import(app, chosen);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? ktnet::ktnet_status::success : ktnet::ktnet_status::trouble;
    }
    return chosen(std::cout, std::cerr);
}
