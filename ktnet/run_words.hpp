// One run of ktnet from the words of its command line: parsed with the one table of
// subcommands, the chosen one run with the run's output. main runs the program's own words; the
// shop's page runs the words of each job it starts, so that a job is the same whichever front
// end started it.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "run_output.hpp"
#include "shop/shop_environment.hpp"

namespace ktnet {

// words: without the program's name ("backup", "all", "--json"). prepare sees the run's output
// before the subcommand runs (to follow its progress). Returns the exit status, the errors of a
// --json run already written as its document.
int run_words(const std::vector<std::string>& words, ShopEnvironment& env, std::ostream& out,
              std::ostream& err, const std::function<void(RunOutput&)>& prepare = {});

}  // namespace ktnet
