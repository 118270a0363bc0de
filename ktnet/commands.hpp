// Every subcommand of ktnet, in the order its help lists them: one table, as git keeps its
// commands.
#pragma once

#include <span>

#include "command.hpp"

namespace ktnet {

std::span<const Subcommand> subcommands();

}  // namespace ktnet
