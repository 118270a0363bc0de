// The shop's page over HTTP: the page itself (built into the program), the JSON the page reads,
// the jobs it starts, their progress as server-sent events. Every request passes the guard of
// request_guard.hpp first.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "serve/page_jobs.hpp"
#include "serve/password_file.hpp"
#include "serve/request_guard.hpp"
#include "serve/uploads.hpp"
#include "shop/fields_file.hpp"
#include "shop/shop_file.hpp"

namespace ktnet {

struct PageSettings {
    ListenAddress listen;
    std::optional<PasswordHash> password;
    Shop shop;
    ShopFields fields;
    std::filesystem::path store;    // the shop's store, the same for every job
    std::filesystem::path backups;  // the folder of the backups
    std::filesystem::path logs;     // of the loads and restores started from the page
    // The words every job gets besides its own: --shop, --store, --timeout.
    std::vector<std::string> device_words;
    // --fields FILE, for the subcommands that name fields.
    std::vector<std::string> fields_words;
    std::string version;
};

// Serves until stop_requested says so (asked a few times a second); the reason when it cannot
// listen. ready is told once it listens.
[[nodiscard]] Result<Done, std::string> serve_page(const PageSettings& settings, PageJobs& jobs,
                                                   Uploads& uploads,
                                                   const std::function<bool()>& stop_requested,
                                                   const std::function<void()>& ready);

}  // namespace ktnet
