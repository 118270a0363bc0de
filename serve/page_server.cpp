#include "page_server.hpp"

#include <fmt/chrono.h>
#include <fmt/format.h>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "base/limits.hpp"
#include "base/numbers.hpp"
#include "serve/page_assets.hpp"
#include "serve/page_data.hpp"
#include "shop/backup_job.hpp"
#include "store/shop_store.hpp"

namespace ktnet {

namespace {

using httplib::Request;
using httplib::Response;

constexpr std::string_view cookie_name = "ktnet_session";
constexpr int max_event_streams = 4;  // beyond them the page polls, leaving threads to requests

void send_json(Response& res, const nlohmann::json& body, int status = 200) {
    res.status = status;
    res.set_content(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                    "application/json");
}

void send_error(Response& res, int status, const std::string& message) {
    send_json(res, {{"error", message}}, status);
}

std::string session_id(const Request& req) {
    const std::string cookies = req.get_header_value("Cookie");
    const std::string key = std::string(cookie_name) + "=";
    for (std::size_t at = cookies.find(key); at != std::string::npos;
         at = cookies.find(key, at + 1)) {
        if (at != 0 && cookies[at - 1] != ' ' && cookies[at - 1] != ';') continue;
        const std::size_t start = at + key.size();
        return cookies.substr(start, cookies.find(';', start) - start);
    }
    return {};
}

// The JSON body of a POST; nothing when it is none.
std::optional<nlohmann::json> body_of(const Request& req) {
    auto j = nlohmann::json::parse(req.body, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return std::nullopt;
    return j;
}

std::string text_of(const nlohmann::json& body, const char* key) {
    const auto it = body.find(key);
    return it != body.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool flag_of(const nlohmann::json& body, const char* key) {
    const auto it = body.find(key);
    return it != body.end() && it->is_boolean() && it->get<bool>();
}

std::string joined(const std::vector<ScaleAddress>& scales) {
    std::string text;
    for (const ScaleAddress& s : scales) {
        if (!text.empty()) text += ',';
        text += s.text();
    }
    return text;
}

// The scales a request names, each given as a word the shop file knows ("1S1", "deli").
Result<std::vector<ScaleAddress>, std::string> scales_of(const nlohmann::json& body,
                                                         const Shop& shop) {
    const auto it = body.find("scales");
    if (it == body.end() || !it->is_array() || it->empty())
        return unexpected(std::string("choose the scales first"));
    std::string text;
    for (const auto& s : *it) {
        if (!s.is_string()) return unexpected(std::string("a scale must be named by its text"));
        if (!text.empty()) text += ',';
        text += s.get<std::string>();
    }
    return select_scales(text, shop);
}

struct BackupFile {
    std::string name;
    std::string scale;
    std::string date;
    std::uintmax_t size;
};

// The dated backups in the folder, newest first: the files a restore may name, and no others.
std::vector<BackupFile> backup_files(const std::filesystem::path& dir) {
    std::vector<BackupFile> files;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
        if (!e.is_regular_file(ec)) continue;
        const std::string name = e.path().filename().string();
        const auto scale = ScaleAddress::parse(name.substr(0, name.find('-')));
        const auto date = scale ? backup_date(name, *scale) : std::nullopt;
        if (!date) continue;
        files.push_back({name, scale->text(), *date, e.file_size(ec)});
    }
    std::sort(files.begin(), files.end(), [](const BackupFile& a, const BackupFile& b) {
        return a.date != b.date ? a.date > b.date : a.name < b.name;
    });
    return files;
}

class PageRoutes {
public:
    PageRoutes(const PageSettings& settings, PageJobs& jobs, Uploads& uploads)
        : settings_(settings), jobs_(jobs), uploads_(uploads), sessions_(settings.password) {}

    void add_to(httplib::Server& server);
    void stopping() { stopping_ = true; }

private:
    httplib::Server::HandlerResponse guard(const Request& req, Response& res);
    void session(const Request& req, Response& res);
    void login(const Request& req, Response& res);
    void overview(Response& res);
    void scale(const Request& req, Response& res);
    void history(const Request& req, Response& res);
    void compare(const Request& req, Response& res);
    void files(Response& res);
    void upload(const Request& req, Response& res);
    void job(const Request& req, Response& res);
    void events(Response& res);

    std::vector<std::string> words(std::vector<std::string> own) const {
        own.insert(own.end(), settings_.device_words.begin(), settings_.device_words.end());
        if (own.front() == "load" || own.front() == "history")
            own.insert(own.end(), settings_.fields_words.begin(), settings_.fields_words.end());
        own.push_back("--json");
        return own;
    }
    // A read of the store through its subcommand: the document, or the reason for a 500.
    Result<nlohmann::json, std::string> read(const std::vector<std::string>& w) const {
        const RunSaid said = jobs_.look(words(w));
        if (said.status != 0 || !said.document.is_object())
            return unexpected(said.messages.empty() ? std::string("the store cannot be read")
                                                    : said.messages.front());
        return said.document;
    }
    std::string log_path(const char* kind) const {
        return (settings_.logs / fmt::format("{}-{:%Y%m%d-%H%M%S}-{}.jsonl", kind,
                                             fmt::localtime(std::chrono::system_clock::to_time_t(
                                                 std::chrono::system_clock::now())),
                                             random_hex(3)))
            .string();
    }

    const PageSettings& settings_;
    PageJobs& jobs_;
    Uploads& uploads_;
    PageSessions sessions_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> streams_{0};
};

httplib::Server::HandlerResponse PageRoutes::guard(const Request& req, Response& res) {
    using Handled = httplib::Server::HandlerResponse;
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("X-Frame-Options", "DENY");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("Cache-Control", "no-store");
    res.set_header("Content-Security-Policy",
                   "default-src 'self'; connect-src 'self'; frame-ancestors 'none'; "
                   "form-action 'self'; base-uri 'none'");
    if (!host_allowed(settings_.listen, req.get_header_value("Host"))) {
        send_error(res, 403,
                   fmt::format("this page answers at http://{}/ only", settings_.listen.text()));
        return Handled::Handled;
    }
    if (!origin_allowed(settings_.listen, req.get_header_value("Origin")) ||
        req.get_header_value("Sec-Fetch-Site") == "cross-site") {
        send_error(res, 403, "a request from another site's page is refused");
        return Handled::Handled;
    }
    const std::string id = session_id(req);
    if (req.method == "POST") {
        const std::string token = req.get_header_value("X-Ktnet-Token");
        const auto s = sessions_.find(id);
        const bool token_ok = s && !token.empty() && s->token == token;
        if (req.path == "/api/login" ? !token_ok : !sessions_.may_change(id, token)) {
            send_error(
                res, 403,
                token_ok ? "log in first" : "a change needs the page's token: reload the page");
            return Handled::Handled;
        }
        return Handled::Unhandled;
    }
    if (req.method != "GET" && req.method != "HEAD") {
        send_error(res, 405, "only GET and POST are answered");
        return Handled::Handled;
    }
    if (req.path.starts_with("/api/") && req.path != "/api/session" && !sessions_.may_read(id)) {
        send_error(res, 401, "log in first");
        return Handled::Handled;
    }
    return Handled::Unhandled;
}

void PageRoutes::session(const Request& req, Response& res) {
    const PageSession s = sessions_.session(session_id(req));
    res.set_header("Set-Cookie",
                   fmt::format("{}={}; HttpOnly; SameSite=Strict; Path=/", cookie_name, s.id));
    send_json(res, {{"token", s.token},
                    {"password", sessions_.has_password()},
                    {"logged_in", s.logged_in || !sessions_.has_password()},
                    {"version", settings_.version},
                    {"listen", settings_.listen.text()}});
}

void PageRoutes::login(const Request& req, Response& res) {
    const auto body = body_of(req);
    if (!body) return send_error(res, 400, "the body must be a JSON object");
    if (!sessions_.log_in(session_id(req), text_of(*body, "password")))
        return send_error(res, 403, "wrong password");
    send_json(res, {{"ok", true}});
}

void PageRoutes::overview(Response& res) {
    const auto status = read({"status"});
    if (!status) return send_error(res, 500, status.error());
    nlohmann::json scales = nlohmann::json::array();
    for (const auto& s : (*status)["scales"]) {
        nlohmann::json backup = nullptr, load = nullptr;
        if (s.contains("last_backup")) {
            const auto& b = s["last_backup"];
            backup = {{"time", b["time"]},
                      {"articles", b["named"]},
                      {"records", b["records"]},
                      {"file", b["file"]}};
        }
        if (s.contains("last_load")) load = s["last_load"];
        scales.push_back({{"address", s["address"]},
                          {"name", s["name"]},
                          {"last_contact", s["last_contact"]},
                          {"last_backup", backup},
                          {"last_load", load},
                          {"known", s["known"]},
                          {"unknown", s["unknown"]},
                          {"drift", s["found_by_last_backup"]}});
    }
    send_json(res, {{"scales", scales}, {"job", jobs_.current()}});
}

void PageRoutes::scale(const Request& req, Response& res) {
    const auto scale = select_scales(req.get_param_value("address"), settings_.shop);
    if (!scale || scale->size() != 1) return send_error(res, 400, "name one scale: address=1S1");
    auto store = ShopStore::open(settings_.store);
    if (!store) return send_error(res, 500, store.error());
    auto page = scale_page(*store, settings_.shop, settings_.fields.names, scale->front());
    if (!page) return send_error(res, 500, page.error());
    res.set_content(*page, "application/json");
}

void PageRoutes::history(const Request& req, Response& res) {
    std::vector<std::string> w = {"history"};
    if (const std::string scale = req.get_param_value("scale"); !scale.empty()) {
        const auto scales = select_scales(scale, settings_.shop);
        if (!scales) return send_error(res, 400, scales.error());
        w.push_back(joined(*scales));
    }
    if (const std::string plu = req.get_param_value("plu"); !plu.empty()) {
        const auto plus = parse_number_set(plu, 0, highest_request_plu);
        if (!plus) return send_error(res, 400, "plu: " + plus.error());
        w.push_back("--plu=" + plu);
    }
    const auto changes = read(w);
    if (!changes) return send_error(res, 500, changes.error());
    auto store = ShopStore::open(settings_.store);
    if (!store) return send_error(res, 500, store.error());
    auto jobs = recent_jobs_page(*store, 50);
    if (!jobs) return send_error(res, 500, jobs.error());
    send_json(res, {{"changes", (*changes)["changes"]}, {"jobs", *jobs}});
}

void PageRoutes::compare(const Request& req, Response& res) {
    const auto scale = select_scales(req.get_param_value("address"), settings_.shop);
    if (!scale || scale->size() != 1) return send_error(res, 400, "name one scale: address=1S1");
    const auto id = parse_number_set(req.get_param_value("snapshot"), 1, 0x7fffffff);
    if (!id || id->numbers().size() != 1) return send_error(res, 400, "name one snapshot");
    auto store = ShopStore::open(settings_.store);
    if (!store) return send_error(res, 500, store.error());
    auto diff = compare_with_snapshot(*store, settings_.fields.names, scale->front(),
                                      id->numbers().front());
    if (!diff) return send_error(res, 400, diff.error());
    send_json(res, *diff);
}

void PageRoutes::files(Response& res) {
    nlohmann::json backups = nlohmann::json::array(), uploads = nlohmann::json::array();
    for (const BackupFile& f : backup_files(settings_.backups))
        backups.push_back({{"name", f.name}, {"scale", f.scale}, {"size", f.size}});
    for (const Upload& u : uploads_.list())
        uploads.push_back({{"id", u.id},
                           {"name", u.name},
                           {"size", u.size},
                           {"kind", u.price_list ? "price list" : "plu file"}});
    send_json(res, {{"backups", backups}, {"uploads", uploads}});
}

void PageRoutes::upload(const Request& req, Response& res) {
    if (!req.is_multipart_form_data() || !req.has_file("file"))
        return send_error(res, 400, "send the file as the form's part \"file\"");
    const auto part = req.get_file_value("file");
    if (part.content.empty()) return send_error(res, 400, "the file is empty");
    auto saved = uploads_.save(part.filename.empty() ? "upload" : part.filename, part.content);
    if (!saved) return send_error(res, 500, saved.error());
    nlohmann::json problems = nlohmann::json::array();
    bool ok = true;
    if (!saved->price_list) {
        // The checks of the command line, before anything is sent.
        const RunSaid said = jobs_.look({"check", saved->path.string(), "--json"});
        ok = said.status == 0;
        if (said.document.is_object()) {
            for (const auto& f : said.document["files"]) {
                if (f.contains("error")) problems.push_back(f["error"]);
                for (const auto& finding : f.value("findings", nlohmann::json::array()))
                    if (finding.value("severity", "") == "problem")
                        problems.push_back(fmt::format("line {}: {}", finding.value("line", 0),
                                                       finding.value("message", "")));
            }
        }
        if (!ok && problems.empty()) problems = said.messages;
    }
    send_json(res, {{"id", saved->id},
                    {"name", saved->name},
                    {"size", saved->size},
                    {"kind", saved->price_list ? "price list" : "plu file"},
                    {"ok", ok},
                    {"problems", problems}});
}

void PageRoutes::job(const Request& req, Response& res) {
    const auto body = body_of(req);
    if (!body) return send_error(res, 400, "the body must be a JSON object");
    const std::string kind = text_of(*body, "kind");
    const bool plan = flag_of(*body, "plan");
    PageJobStart start{kind, {}, {}};
    if (kind == "scan") {
        start.words = words({"scan"});  // its progress is per address, not per scale
    } else if (kind == "backup" || kind == "load" || kind == "restore") {
        auto scales = scales_of(*body, settings_.shop);
        if (!scales) return send_error(res, 400, scales.error());
        start.scales = *scales;
        if (kind == "backup") {
            start.words = {"backup", joined(*scales), "--dir", settings_.backups.string()};
            if (const std::string plu = text_of(*body, "plu"); !plu.empty()) {
                const auto plus = parse_number_set(plu, 0, highest_request_plu);
                if (!plus) return send_error(res, 400, "plu: " + plus.error());
                start.words.push_back("--plu=" + plu);
            }
        } else if (kind == "load") {
            const auto upload = uploads_.find(text_of(*body, "file"));
            if (!upload) return send_error(res, 400, "choose an uploaded file first");
            start.words = {"load", upload->path.string(), "--to", joined(*scales)};
            if (flag_of(*body, "changed")) start.words.push_back("--changed");
            if (flag_of(*body, "verify")) start.words.push_back("--verify");
        } else {
            if (scales->size() != 1) return send_error(res, 400, "a restore is of one scale");
            const std::string name = text_of(*body, "backup");
            const auto files = backup_files(settings_.backups);
            const bool listed = std::any_of(files.begin(), files.end(),
                                            [&](const BackupFile& f) { return f.name == name; });
            if (!listed) return send_error(res, 400, "choose one of the backups listed");
            start.words = {"restore", scales->front().text(), "--from",
                           (settings_.backups / name).string()};
        }
        if (plan) {
            start.words.push_back("--dry-run");
        } else if (kind != "backup") {
            if (!sessions_.password_confirmed(text_of(*body, "password")))
                return send_error(res, 403, "wrong password");
            start.words.insert(start.words.end(), {"--yes", "--log", log_path(kind.c_str())});
        }
        start.words = words(std::move(start.words));
    } else {
        return send_error(res, 400, "kind: scan, backup, load or restore");
    }
    if (plan) {
        auto said = jobs_.run_now(start.words);
        if (!said) return send_error(res, 409, said.error());
        return send_json(res, {{"plan",
                                {{"status", said->status},
                                 {"messages", said->messages},
                                 {"document", said->document}}}});
    }
    auto started = jobs_.start(std::move(start));
    if (!started) return send_error(res, 409, started.error());
    send_json(res, {{"job", *started}}, 202);
}

void PageRoutes::events(Response& res) {
    if (streams_.fetch_add(1) >= max_event_streams) {
        --streams_;
        return send_error(res, 503, "too many pages follow the jobs: ask /api/job");
    }
    struct Stream {
        std::uint64_t seen = ~std::uint64_t{0};
        std::chrono::steady_clock::time_point sent{};
    };
    auto stream = std::make_shared<Stream>();
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, stream](std::size_t, httplib::DataSink& sink) {
            using namespace std::chrono;
            if (stopping_) return false;
            // Never twice within half a second; at least once a second while a job runs.
            std::this_thread::sleep_until(stream->sent + milliseconds(500));
            const auto waited = stream->sent + seconds(1) - steady_clock::now();
            jobs_.wait_for_change(stream->seen,
                                  std::max(duration_cast<milliseconds>(waited), milliseconds(0)));
            if (stopping_) return false;
            const std::uint64_t version = jobs_.version();
            std::string event;
            if (version != stream->seen || jobs_.running())
                event = "event: job\ndata: " + jobs_.current().dump() + "\n\n";
            else
                event = ": waiting\n\n";  // finds a page that went away
            stream->seen = version;
            stream->sent = steady_clock::now();
            return sink.write(event.data(), event.size());
        },
        [this](bool) { --streams_; });
}

void PageRoutes::add_to(httplib::Server& server) {
    server.set_pre_routing_handler(
        [this](const Request& req, Response& res) { return guard(req, res); });
    server.Get("/", [](const Request&, Response& res) {
        res.set_content(std::string(page_index_html), "text/html; charset=utf-8");
    });
    server.Get("/app.js", [](const Request&, Response& res) {
        res.set_content(std::string(page_app_js), "text/javascript; charset=utf-8");
    });
    server.Get("/app.css", [](const Request&, Response& res) {
        res.set_content(std::string(page_app_css), "text/css; charset=utf-8");
    });
    server.Get("/api/session", [this](const Request& q, Response& r) { session(q, r); });
    server.Post("/api/login", [this](const Request& q, Response& r) { login(q, r); });
    server.Get("/api/overview", [this](const Request&, Response& r) { overview(r); });
    server.Get("/api/scale", [this](const Request& q, Response& r) { scale(q, r); });
    server.Get("/api/history", [this](const Request& q, Response& r) { history(q, r); });
    server.Get("/api/compare", [this](const Request& q, Response& r) { compare(q, r); });
    server.Get("/api/files", [this](const Request&, Response& r) { files(r); });
    server.Post("/api/upload", [this](const Request& q, Response& r) { upload(q, r); });
    server.Post("/api/jobs", [this](const Request& q, Response& r) { job(q, r); });
    server.Post("/api/jobs/stop", [this](const Request&, Response& r) {
        jobs_.stop();
        send_json(r, {{"job", jobs_.current()}});
    });
    server.Get("/api/job", [this](const Request&, Response& r) {
        send_json(r, {{"job", jobs_.current()}});
    });
    server.Get("/api/events", [this](const Request&, Response& r) { events(r); });
    server.set_error_handler([](const Request&, Response& res) {
        if (!res.body.empty()) return;
        if (res.status == 413)
            send_error(res, 413, fmt::format("the file is larger than {} MB", upload_limit >> 20));
        else
            send_error(res, res.status, res.status == 404 ? "no such page" : "refused");
    });
}

}  // namespace

Result<Done, std::string> serve_page(const PageSettings& settings, PageJobs& jobs, Uploads& uploads,
                                     const std::function<bool()>& stop_requested,
                                     const std::function<void()>& ready) {
    httplib::Server server;
    PageRoutes routes(settings, jobs, uploads);
    routes.add_to(server);
    // A multipart body carries its boundaries besides the file.
    server.set_payload_max_length(upload_limit + 64 * 1024);
    if (!server.bind_to_port(settings.listen.host, settings.listen.port))
        return unexpected(
            fmt::format("cannot listen on {}: the address is taken or not this "
                        "machine's",
                        settings.listen.text()));
    std::thread listening([&] { server.listen_after_bind(); });
    ready();
    while (!stop_requested()) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    routes.stopping();
    jobs.stop();
    server.stop();
    listening.join();
    return Done{};
}

}  // namespace ktnet
