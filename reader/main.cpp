#include <clocale>
#include <iostream>
#include <string_view>
#include <vector>

#include "cli/console.hpp"
#include "cli/trace_from_environment.hpp"
#include "link/platform_port.hpp"
#include "reader.hpp"

int main(int argc, char** argv) {
    // hidapi converts product strings with the C library's locale.
    std::setlocale(LC_CTYPE, "");
    ktnet::configure_standard_output();
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    ktnet::RunContext context;
    context.diagnose = [](std::string_view line) { std::cerr << "rdk: " << line << '\n'; };
    const auto port = ktnet::make_platform_port();
    ktnet::TraceFromEnvironment traced(*port, context.diagnose);
    return ktnet::run_reader(args, traced.port(), std::cout, context);
}
