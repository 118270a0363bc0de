// What rdk and ldk do alike with the controller once their arguments and files are in order:
// look for it, printing what the search meets; end a run that finds it held by another; and
// say why a run ends for want of an answer or by a signal.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "diagnostics.hpp"
#include "link/session.hpp"
#include "run_context.hpp"

namespace ktnet {

class ControllerRun {
public:
    // port, console and context must outlive the run.
    ControllerRun(HidPort& port, std::ostream& console, const RunContext& context);

    // Finds the controller and holds it for this run. When another run holds it, prints the
    // message, says why and returns the exit status the run ends with; otherwise nothing.
    [[nodiscard]] std::optional<int> find_controller();

    Session& session() { return session_; }

    // The exit status of a run a signal stopped after some records, its reason said.
    [[nodiscard]] int stopped(std::uint64_t records) const;

    // Why an answer was not taken: the controller search's outcome when there was no
    // controller, otherwise what was asked ("PLU 17 from 1S1") and what went wrong.
    [[nodiscard]] std::string why_not(const Answer& answer, const std::string& what) const;

private:
    std::ostream& console_;
    const RunContext& context_;
    Session session_;
    DiscoveryLog log_;
    Discovery discovery_;
};

}  // namespace ktnet
