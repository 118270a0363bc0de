// What load and restore share once they know what to send: the question before sending, the
// run of the load job with its log and the store, and the summary of every scale.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "base/result.hpp"
#include "device_options.hpp"
#include "shop/load_job.hpp"
#include "shop/load_log.hpp"
#include "store/shop_store.hpp"

namespace ktnet {

std::string local_time(std::chrono::system_clock::time_point t, const char* format);

// A word as a POSIX shell reads it back.
std::string shell_word(const std::string& word);

// Asks on the terminal unless yes; the exit status when nothing is to be sent.
[[nodiscard]] std::optional<int> refused_to_send(bool yes, ShopEnvironment& env, RunOutput& output);

struct SendRequest {
    const LoadPlan& plan;
    bool verify = false;
    std::string kind;      // "load", "restore": the job's kind in the store
    ChangeCause cause;     // what the store calls the changes it makes
    std::string log_name;  // --log; empty: log_base plus the time
    std::string log_base;  // "ktnet-load"
    LogHeader header;
};

struct SendOutcome {
    LoadJobResult job;
    std::string log_path;
    int status = 0;
};

// Writes the log's header, then runs the job on the connection, the store told of every record
// and of the job; the exit status said on output when the log cannot even be made.
[[nodiscard]] Result<SendOutcome, int> send_plan(const SendRequest& request, ShopEnvironment& env,
                                                 const Shop& shop, ShopStore& store,
                                                 Connection& connection, RunOutput& output);

// The summary of every scale (a table, or the JSON document), and after a failure or a stop the
// command that goes on, when there is one.
void print_sent(const SendOutcome& sent, const Shop& shop, RunOutput& output,
                const std::optional<std::string>& go_on);

}  // namespace ktnet
