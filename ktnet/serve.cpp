#include "serve.hpp"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <iostream>

#include "cli/replaced_file.hpp"
#include "run_words.hpp"
#include "serve/page_server.hpp"
#include "shop/backup_job.hpp"

namespace ktnet {

namespace {

int set_password(const ServeOptions& options, ShopEnvironment& env, RunOutput& output) {
    if (env.input_is_terminal) output.err() << "The page's password (it shows as you type): ";
    const auto password = env.read_answer();
    if (!password || password->size() < 8)
        return output.fail("the password must have at least 8 characters; none was written");
    const std::string text = password_file_text(hash_password(*password));
    auto file = ReplacementFile::begin(options.set_password, ReplacementFile::Name::users);
    if (!file) return output.fail(fmt::format("{}: {}", options.set_password, file.error().reason));
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    if (auto w = file->write({bytes, text.size()}); !w)
        return output.fail(fmt::format("{}: {}", options.set_password, w.error().reason));
    if (auto c = file->commit(); !c)
        return output.fail(fmt::format("{}: {}", options.set_password, c.error().reason));
    std::error_code ec;  // the hash only, but still nobody else's to read
    std::filesystem::permissions(
        options.set_password,
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, ec);
    output.note(fmt::format("wrote the password's salted hash to {}", options.set_password));
    return ktnet_status::success;
}

}  // namespace

int run_serve(const ServeOptions& options, ShopEnvironment& env, RunOutput& output) {
    apply(options.device.output, output);
    if (!options.set_password.empty()) return set_password(options, env, output);
    PageSettings settings;
    auto listen = parse_listen_address(options.listen);
    if (!listen) return output.fail("--listen " + listen.error());
    settings.listen = *listen;
    if (!options.password_file.empty()) {
        auto password = read_password_file(options.password_file);
        if (!password) return output.fail("--password-file " + password.error());
        settings.password = std::move(*password);
    } else if (!settings.listen.loopback()) {
        return output.fail(fmt::format(
            "--listen {}: a page other machines can reach needs --password-file FILE (ktnet "
            "serve --set-password FILE makes one); without one it listens on 127.0.0.1 only",
            options.listen));
    }
    auto shop = shop_of(options.device, output);
    if (!shop) return ktnet_status::trouble;
    auto fields = fields_of(options.device, *shop, output);
    if (!fields) return ktnet_status::trouble;
    auto store = open_store(options.device, *shop, output);
    if (!store) return store.error();
    settings.shop = *shop;
    settings.fields = std::move(*fields);
    settings.store = store->path();
    settings.backups = options.dir;
    if (const auto made = prepare_backup_folder(settings.backups); !made)
        return output.fail("--dir: " + made.error());
    const std::filesystem::path work = options.work;
    settings.logs = work / "logs";
    std::error_code ec;
    std::filesystem::create_directories(settings.logs, ec);
    if (!std::filesystem::is_directory(settings.logs, ec))
        return output.fail(
            fmt::format("--work: cannot make the folder {}", settings.logs.string()));
    auto uploads = Uploads::open(work / "uploads");
    if (!uploads) return output.fail("--work: " + uploads.error());
    settings.version = KTNET_VERSION;
    if (!shop->file.empty()) settings.device_words = {"--shop", shop->file.string()};
    settings.device_words.insert(settings.device_words.end(),
                                 {"--store", settings.store.string(), "--timeout",
                                  std::to_string(options.device.timeout_ms)});
    // A job waits for a controller another run holds only as long as the server was told.
    if (options.device.wait == "forever")
        settings.device_words.push_back("--wait");
    else if (!options.device.wait.empty())
        settings.device_words.push_back("--wait=" + options.device.wait);
    if (!settings.fields.file.empty())
        settings.fields_words = {"--fields", settings.fields.file.string()};

    const RunWords run = [](const std::vector<std::string>& words, ShopEnvironment& job_env,
                            std::ostream& out, std::ostream& err, JobObserver* watcher) {
        return run_words(words, job_env, out, err,
                         [watcher](RunOutput& o) { o.progress().set_watcher(watcher); });
    };
    const Shop& known_shop = settings.shop;
    PageJobs jobs(run, env, [&known_shop](const ScaleAddress& s) { return known_shop.label(s); });
    auto served = serve_page(
        settings, jobs, *uploads, [&env] { return env.context.stop_signal() != 0; },
        [&] {
            output.note(fmt::format("the shop's page is at http://{}/ ({}); Ctrl+C stops it",
                                    settings.listen.text(),
                                    settings.password ? "with a password" : "this machine only"));
        });
    if (!served) return output.fail(served.error());
    return ktnet_status::success;
}

void add_serve(CLI::App& app, Command& chosen, ShopEnvironment& env) {
    auto options = std::make_shared<ServeOptions>();
    CLI::App* sub = app.add_subcommand(
        "serve",
        "Serve the shop's page: the scales, their articles and history, and the jobs (backup, "
        "load with its plan, restore) with their progress, run as the command line runs them. "
        "It listens on 127.0.0.1:8470 unless told otherwise; another address needs a password.");
    sub->add_option("--listen", options->listen,
                    "ADDR:PORT to listen on: 127.0.0.1:8470, or 0.0.0.0:8470 with a password")
        ->capture_default_str();
    sub->add_option("--password-file", options->password_file,
                    "the page's password, as --set-password wrote its salted hash");
    sub->add_option("--set-password", options->set_password,
                    "write FILE with the salted hash of a password read from standard input, "
                    "and serve nothing");
    sub->add_option("--dir", options->dir, "the folder of the backups, made when missing")
        ->capture_default_str();
    sub->add_option("--work", options->work,
                    "the server's own folder: uploaded files and the logs of its jobs")
        ->capture_default_str();
    add_device_options(*sub, options->device, false);
    sub->footer(
        "Every change is a POST with the page's token, Host and Origin must be the page's own, "
        "and with a password a load or restore asks for it again. Exit status: 0 a password "
        "file written, 2 it cannot start, 128+N stopped by signal N (its normal end: Ctrl+C, "
        "or the service stopped).");
    sub->callback([options, &chosen, &env] {
        chosen = [options, &env](RunOutput& output) { return run_serve(*options, env, output); };
    });
}

}  // namespace ktnet
