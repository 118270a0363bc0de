// ktnet load FILE --to SCALES [--lines A-B | --plu LIST] [--verify] [--yes] [--resume LOG]:
// the records of a PLU file into one scale after another, with a result log.
#pragma once

#include <iosfwd>
#include <string>

#include "command.hpp"
#include "scale_access.hpp"

namespace CLI {
class App;
}

namespace ktnet {

// Sends of one record a scale does not take, before the scale counts as failed.
inline constexpr unsigned store_attempts = 3;

struct LoadOptions {
    std::string file{};
    std::string to{};
    std::string lines{};  // "A-B", counted from 1; empty: every line
    std::string plu{};    // "1-50,77"; empty: every PLU
    bool verify = false;
    bool yes = false;
    std::string resume{};  // a log of an earlier run
    std::string log{};     // empty: ktnet-load-YYYYMMDD-HHMMSS.jsonl
    DeviceOptions device{};
};

// Checks every selected line first (readable, no character in a number column that the reader
// never writes there) and sends nothing when one breaks the rules. Says what it will send;
// asks on a terminal unless --yes, and sends nothing without a terminal unless --yes. Then
// loads one scale after another: a record the scale does not take is sent again, store_attempts
// times in all, then the scale is failed and the next goes on. --verify reads each record back
// once, right after it was stored, and compares it with what was sent; a difference fails the
// scale. Every record sent gets a line in the run's log (load_log.hpp). --resume LOG sends only
// what that log does not show as done, and the new log starts with those done lines, so the
// newest log always tells the whole job. Returns 0 when every record is on every scale, 1 when
// a line breaks the rules, the user said no, or a scale failed, 2 for a bad command line, an
// unreadable file, a log that cannot be written, no terminal without --yes, or no controller, 5
// when another run holds the controller, 128+N when signal N stopped it.
int run_load(const LoadOptions& options, ShopEnvironment& env, std::ostream& out,
             std::ostream& err);

void add_load(CLI::App& app, Command& chosen, ShopEnvironment& env);

}  // namespace ktnet
