// ktnet serve [--listen ADDR:PORT] [--password-file FILE]: the shop's page, for the people who
// never open a terminal. ktnet serve --set-password FILE writes the password file.
#pragma once

#include <string>

#include "command.hpp"
#include "device_options.hpp"

namespace ktnet {

struct ServeOptions {
    std::string listen = "127.0.0.1:8470";
    std::string password_file{};
    std::string set_password{};        // the file to write, from a password read on standard input
    std::string dir = "backups";       // the backups, as ktnet backup --dir
    std::string work = "ktnet-serve";  // the uploads and the logs of the page's jobs
    DeviceOptions device{};
};

// Serves until a stop signal; 2 when it cannot start (a bad option, a LAN address
// without a password, an address it cannot listen on, a store or folder it cannot open).
int run_serve(const ServeOptions& options, ShopEnvironment& env, RunOutput& output);

void add_serve(CLI::App& app, Command& chosen, ShopEnvironment& env);

}  // namespace ktnet
