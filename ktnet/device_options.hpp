// The options of every subcommand that talks to scales, and the connection they lead to.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "base/result.hpp"
#include "run_output.hpp"
#include "shop/connection.hpp"
#include "shop/fields_file.hpp"
#include "shop/shop_file.hpp"
#include "store/shop_store.hpp"

namespace CLI {
class App;
}

namespace ktnet {

struct OutputOptions {
    bool json = false;
    bool quiet = false;
};

struct DeviceOptions {
    std::string shop{};            // --shop FILE; empty: the default places
    unsigned timeout_ms = 10'000;  // --timeout: how long one answer may take
    OutputOptions output{};
    // --wait[=SECONDS]: wait for a controller another run holds; empty when not given,
    // "forever" when given without a number.
    std::string wait{};
    std::string store{};   // --store FILE; empty: $KTNET_STORE or the default place
    std::string fields{};  // --fields FILE; empty: the default places
};

// --json (when the subcommand has a document to give) and --quiet.
void add_output_options(CLI::App& sub, OutputOptions& options, bool json);
// --shop and --store, for a subcommand that needs no controller.
void add_shop_options(CLI::App& sub, DeviceOptions& options);
// --fields.
void add_fields_option(CLI::App& sub, DeviceOptions& options);
// --shop, --store, --timeout, --wait, and the output options.
void add_device_options(CLI::App& sub, DeviceOptions& options, bool json);

// The run's output set up as the options say.
void apply(const OutputOptions& options, RunOutput& output);

// The shop of --shop FILE or of the default places; the error is said on output.
[[nodiscard]] std::optional<Shop> shop_of(const DeviceOptions& options, RunOutput& output);

// The shop's names of the setting fields; the error is said on output.
[[nodiscard]] std::optional<ShopFields> fields_of(const DeviceOptions& options, const Shop& shop,
                                                  RunOutput& output);

// The shop's store for this run: --store, $KTNET_STORE, or the place beside the shop file; the
// reason said on output and the exit status otherwise.
[[nodiscard]] Result<ShopStore, int> open_store(const DeviceOptions& options, const Shop& shop,
                                                RunOutput& output);

// The controller, held for this run; the reason said on output and the exit status otherwise.
[[nodiscard]] Result<std::unique_ptr<Connection>, int> connect(ShopEnvironment& env,
                                                               const DeviceOptions& options,
                                                               RunOutput& output);

}  // namespace ktnet
