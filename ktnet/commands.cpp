#include "commands.hpp"

#include <array>

#include "backup.hpp"
#include "check.hpp"
#include "compare.hpp"
#include "export.hpp"
#include "import.hpp"
#include "load.hpp"
#include "scan.hpp"

namespace ktnet {

namespace {

constexpr std::array<Subcommand, 7> table = {{
    {"scan", add_scan},
    {"backup", add_backup},
    {"load", add_load},
    {"compare", add_compare},
    {"check", add_check},
    {"export", add_export},
    {"import", add_import},
}};

}  // namespace

std::span<const Subcommand> subcommands() {
    return table;
}

}  // namespace ktnet
