// What one run of a subcommand says, and where. Results go to standard output; everything else
// to standard error, each line after the run's prefix ("ktnet load: "). With --json, standard
// output holds exactly one JSON document whatever happens: the run's own, or, when it ends
// before writing one, a document of its error. With --quiet, only errors and the final summary
// are said.
#pragma once

#include <iosfwd>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "progress.hpp"

namespace ktnet {

class RunOutput {
public:
    // prefix: "ktnet load". terminal: standard error is a terminal (progress in place).
    RunOutput(std::ostream& out, std::ostream& err, std::string prefix, bool terminal = false);

    void set_json(bool json) { json_ = json; }
    void set_quiet(bool quiet) {
        quiet_ = quiet;
        progress_.set_quiet(quiet);
    }
    bool json() const { return json_; }
    bool quiet() const { return quiet_; }
    const std::string& prefix() const { return prefix_; }

    // Where results go: the tables of a run, or the CSV export writes.
    std::ostream& out() { return out_; }
    // Standard error as it is, for what shows without the prefix (a question asked).
    std::ostream& err() { return err_; }

    // An error of the run, on standard error after the prefix, kept for the JSON document of an
    // error. A text from outside (a file name, a scale's name) is shown safe for a terminal.
    void error(std::string_view message);
    // The error, then the exit status of trouble (2), for a run that cannot go on.
    int fail(std::string_view message);
    // What the run will do or did, on standard error after the prefix; not with --quiet.
    void note(std::string_view message);
    // The progress of the run, silent with --quiet.
    Progress& progress() { return progress_; }

    // The run's JSON document, written once.
    void document(const nlohmann::json& document);

    // The exit status; first, with --json and no document written, the document of the errors:
    // {"error": "the first", "errors": [...], "status": N}.
    int finish(int status);

private:
    std::ostream& out_;
    std::ostream& err_;
    std::string prefix_;
    bool json_ = false;
    bool quiet_ = false;
    bool document_written_ = false;
    std::vector<std::string> errors_;
    Progress progress_;
};

}  // namespace ktnet
