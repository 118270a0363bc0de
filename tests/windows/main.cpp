#include "checks.hpp"

int main() {
    ktnet::wintest::Checks checks;
    ktnet::wintest::windows_port_tests(checks);
    ktnet::wintest::locked_file_tests(checks);
    return checks.finish();
}
