// ktnet load FILE --to SCALES [--lines A-B | --plu LIST] [--verify] [--yes] [--resume LOG]:
// the records of a PLU file into one scale after another, with a result log.
#pragma once

#include <string>

#include "command.hpp"
#include "device_options.hpp"
#include "options_common.hpp"
#include "shop/load_job.hpp"

namespace ktnet {

struct LoadOptions {
    std::string file{};
    std::string to{};
    std::string lines{};  // "A-B", counted from 1; empty: every line
    std::string plu{};    // "1-50,77"; empty: every PLU
    bool verify = false;
    bool changed = false;  // only what differs from the store's known state
    bool dry_run = false;  // the plan, and nothing sent
    bool yes = false;
    std::string resume{};  // a log of an earlier run
    std::string log{};     // empty: ktnet-load-YYYYMMDD-HHMMSS.jsonl
    DeviceOptions device{};
    CsvInputOptions csv{};  // for a price list
};

// Reads and checks the whole file first with check's rules, and sends nothing when it has a
// problem (load_plan.hpp). Says what it will send; asks on a terminal unless --yes, and sends
// nothing without a terminal unless --yes. Then loads one scale after another (load_job.hpp),
// logging every record (load_log.hpp). --resume LOG sends only what that log and the logs it
// goes on from do not show as done for this very file; the new log names LOG instead of copying
// it. The summary names every scale: done, failed, stopped or not started, and after a stop or
// a failure the command that goes on. Returns 0 when every record is on every scale, 1 when the
// file breaks the rules, the user said no, or a scale failed, 2 for a bad command line, an
// unreadable file or log, a log that cannot be written, no terminal without --yes, no
// controller or one that went away, 5 when another run holds the controller, 128+N when
// signal N stopped it.
int run_load(const LoadOptions& options, ShopEnvironment& env, RunOutput& output);

void add_load(CLI::App& app, Command& chosen, ShopEnvironment& env);

}  // namespace ktnet
