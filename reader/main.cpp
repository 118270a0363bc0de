#include <clocale>
#include <iostream>
#include <string_view>
#include <vector>

#include "cli/console.hpp"
#include "link/platform_port.hpp"
#include "reader.hpp"

int main(int argc, char** argv) {
    // hidapi converts product strings with the C library's locale.
    std::setlocale(LC_CTYPE, "");
    ktnet::configure_standard_output();
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const auto port = ktnet::make_platform_port();
    return ktnet::run_reader(args, *port, std::cout);
}
