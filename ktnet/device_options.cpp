#include "device_options.hpp"

#include <CLI/CLI.hpp>

#include "base/numbers.hpp"
#include "cli/exit_status.hpp"
#include "command.hpp"
#include "formats/plu_files.hpp"

namespace ktnet {

void add_output_options(CLI::App& sub, OutputOptions& options, bool json) {
    if (json)
        sub.add_flag("--json", options.json,
                     "one JSON document on standard output, for scripts, whatever happens");
    sub.add_flag("-q,--quiet", options.quiet, "say nothing but errors and the final summary");
}

void add_shop_options(CLI::App& sub, DeviceOptions& options) {
    sub.add_option("--shop", options.shop,
                   "the shop file naming the scales (default: $KTNET_SHOP, else "
                   "~/.config/ktnet/shop, else /etc/ktnet/shop; %APPDATA%\\ktnet\\shop.txt, then "
                   "%PROGRAMDATA%\\ktnet\\shop.txt on Windows)");
    sub.add_option("--store", options.store,
                   "the shop's store of what each scale holds (default: $KTNET_STORE, else "
                   "~/.local/state/ktnet/shop.db; /var/lib/ktnet/shop.db with the machine's shop "
                   "file; %LOCALAPPDATA%\\ktnet\\shop.db on Windows)");
}

void add_fields_option(CLI::App& sub, DeviceOptions& options) {
    sub.add_option("--fields", options.fields,
                   "the shop's names of the setting fields (default: $KTNET_FIELDS, else the "
                   "file fields beside the shop file, fields.txt on Windows)");
}

void add_device_options(CLI::App& sub, DeviceOptions& options, bool json) {
    add_shop_options(sub, options);
    sub.add_option("--timeout", options.timeout_ms, "how long one answer may take, in milliseconds")
        ->capture_default_str()
        ->check(CLI::Range(100u, 600'000u));
    sub.add_flag("--wait{forever}", options.wait,
                 "--wait or --wait=SECONDS: wait for a controller another run holds, instead of "
                 "ending with status 5");
    add_output_options(sub, options.output, json);
}

void apply(const OutputOptions& options, RunOutput& output) {
    output.set_json(options.json);
    output.set_quiet(options.quiet);
}

std::optional<Shop> shop_of(const DeviceOptions& options, RunOutput& output) {
    auto shop = load_shop(options.shop);
    if (!shop) {
        output.error(shop.error());
        return std::nullopt;
    }
    return std::move(*shop);
}

std::optional<ShopFields> fields_of(const DeviceOptions& options, const Shop& shop,
                                    RunOutput& output) {
    auto fields = load_fields(options.fields, shop);
    if (!fields) {
        output.error(fields.error());
        return std::nullopt;
    }
    return std::move(*fields);
}

Result<ShopStore, int> open_store(const DeviceOptions& options, const Shop& shop,
                                  RunOutput& output) {
    std::optional<std::filesystem::path> path;
    if (!options.store.empty()) {
        path = path_of(options.store);
    } else {
        path = ShopStore::default_path(shop.machine);
    }
    if (!path) {
        output.error("no place for the shop's store: name one with --store FILE");
        return unexpected(ktnet_status::trouble);
    }
    auto store = ShopStore::open(*path);
    if (!store) {
        output.error(store.error());
        return unexpected(ktnet_status::trouble);
    }
    return std::move(*store);
}

Result<std::unique_ptr<Connection>, int> connect(ShopEnvironment& env, const DeviceOptions& options,
                                                 RunOutput& output) {
    ConnectionOptions o;
    o.timeout = std::chrono::milliseconds(options.timeout_ms);
    if (options.wait == "forever") {
        o.wait_for_held.reset();
    } else if (!options.wait.empty()) {
        const auto s = parse_whole_number(options.wait, 86'400 * 7);
        if (!s) {
            output.error("--wait=" + options.wait + ": not a number of seconds");
            return unexpected(ktnet_status::trouble);
        }
        o.wait_for_held = std::chrono::seconds(*s);
    }
    const auto stop_signal = env.context.stop_signal;
    o.stop_requested = [stop_signal] { return stop_signal() != 0; };
    auto connection = Connection::open(env, std::move(o));
    if (connection) return std::move(*connection);
    output.error(connection.error().message);
    switch (connection.error().kind) {
        case ConnectionFailure::Kind::held:
            return unexpected(exit_status::controller_held);
        case ConnectionFailure::Kind::stopped:
            return unexpected(exit_status::stopped_by(env.context.stop_signal()));
        default:
            return unexpected(ktnet_status::trouble);
    }
}

}  // namespace ktnet
