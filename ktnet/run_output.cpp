#include "run_output.hpp"

#include <ostream>

#include "base/text.hpp"
#include "formats/json_text.hpp"

namespace ktnet {

RunOutput::RunOutput(std::ostream& out, std::ostream& err, std::string prefix, bool terminal)
    : out_(out), err_(err), prefix_(std::move(prefix)), progress_(err, terminal, prefix_) {}

void RunOutput::error(std::string_view message) {
    errors_.emplace_back(message);
    err_ << prefix_ << ": " << printable(message) << '\n';
}

int RunOutput::fail(std::string_view message) {
    error(message);
    return 2;
}

void RunOutput::note(std::string_view message) {
    if (quiet_) return;
    err_ << prefix_ << ": " << printable(message) << '\n';
}

void RunOutput::document(const nlohmann::json& document) {
    if (document_written_) return;
    document_written_ = true;
    out_ << json_document(document) << '\n';
}

int RunOutput::finish(int status) {
    if (json_ && !document_written_) {
        nlohmann::json doc = {{"error", errors_.empty() ? std::string() : errors_.front()},
                              {"errors", errors_},
                              {"status", status}};
        document(doc);
    }
    out_.flush();
    return status;
}

}  // namespace ktnet
