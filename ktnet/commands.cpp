#include "commands.hpp"

#include <array>

#include "backup.hpp"
#include "check.hpp"
#include "compare.hpp"
#include "export.hpp"
#include "import.hpp"
#include "load.hpp"
#include "restore.hpp"
#include "scan.hpp"
#include "serve.hpp"
#include "status.hpp"

namespace ktnet {

namespace {

constexpr std::array<Subcommand, 11> table = {{
    {"scan", add_scan},
    {"backup", add_backup},
    {"load", add_load},
    {"restore", add_restore},
    {"status", add_status},
    {"history", add_history},
    {"compare", add_compare},
    {"check", add_check},
    {"export", add_export},
    {"import", add_import},
    {"serve", add_serve},
}};

}  // namespace

std::span<const Subcommand> subcommands() {
    return table;
}

}  // namespace ktnet
