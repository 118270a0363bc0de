// The shop's page without a browser: its hashes against their published vectors, the password
// file, the guard of every request, and the jobs as the page follows and stops them.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <sstream>
#include <thread>

#include "serve/page_jobs.hpp"
#include "serve/password_file.hpp"
#include "serve/request_guard.hpp"
#include "serve/sha256.hpp"
#include "serve/uploads.hpp"
#include "shop/job_events.hpp"
#include "test_support.hpp"

namespace ktnet {
namespace {

std::span<const std::uint8_t> bytes(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::string hex(const Sha256Digest& d) {
    std::string out;
    for (const std::uint8_t b : d) out += fmt::format("{:02x}", b);
    return out;
}

TEST(Sha256, PublishedVectors) {
    EXPECT_EQ(hex(sha256(bytes(""))),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hex(sha256(bytes("abc"))),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the padding needs a block of its own.
    EXPECT_EQ(hex(sha256(bytes("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"))),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(hex(sha256(bytes(std::string(1'000'000, 'a')))),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_EQ(hex(hmac_sha256(bytes("Jefe"), bytes("what do ya want for nothing?"))),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    EXPECT_EQ(hex(pbkdf2_sha256(bytes("passwd"), bytes("salt"), 1)),
              "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc");
    EXPECT_EQ(hex(pbkdf2_sha256(bytes("Password"), bytes("NaCl"), 80000)),
              "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56");
}

TEST(PasswordFile, KeepsOnlyASaltedHashAndChecksIt) {
    const PasswordHash h = hash_password("ladne wagi", {1, 2, 3, 4}, 10);
    const std::string text = password_file_text(h);
    EXPECT_EQ(text.find("ladne"), std::string::npos);
    EXPECT_TRUE(text.starts_with("pbkdf2-sha256$10$01020304$"));
    const auto back = parse_password_file(text);
    ASSERT_TRUE(back.has_value());
    EXPECT_TRUE(password_matches(*back, "ladne wagi"));
    EXPECT_FALSE(password_matches(*back, "ladne wagi "));
    EXPECT_FALSE(password_matches(*back, ""));
    // Two hashes of one password differ by their salts.
    EXPECT_NE(password_file_text(hash_password("x")), password_file_text(hash_password("x")));

    for (const char* junk :
         {"", "secret\n", "pbkdf2-sha256$0$01$", "md5$10$01$02", "pbkdf2-sha256$10$0g$00",
          "pbkdf2-sha256$10$01$0102", "pbkdf2-sha256$x$01$0102$03"}) {
        EXPECT_FALSE(parse_password_file(junk).has_value()) << junk;
    }
}

TEST(RequestGuard, ListenAddresses) {
    struct Case {
        const char* text;
        const char* listens;  // nullptr: refused
        bool loopback;
    };
    for (const Case& c : std::initializer_list<Case>{{"127.0.0.1:8470", "127.0.0.1:8470", true},
                                                     {":9000", "127.0.0.1:9000", true},
                                                     {"0.0.0.0", "0.0.0.0:8470", false},
                                                     {"LOCALHOST:1", "localhost:1", true},
                                                     {"192.168.1.20:80", "192.168.1.20:80", false},
                                                     {"127.0.0.1:0", nullptr, false},
                                                     {"127.0.0.1:65536", nullptr, false},
                                                     {"256.1.1.1:80", nullptr, false},
                                                     {"shop.example:80", nullptr, false},
                                                     {"[::1]:80", nullptr, false}}) {
        const auto a = parse_listen_address(c.text);
        if (!c.listens) {
            EXPECT_FALSE(a.has_value()) << c.text;
            continue;
        }
        ASSERT_TRUE(a.has_value()) << c.text << ": " << a.error();
        EXPECT_EQ(a->text(), c.listens);
        EXPECT_EQ(a->loopback(), c.loopback) << c.text;
    }
}

TEST(RequestGuard, HostAndOriginMustBeThePagesOwn) {
    const ListenAddress local{"127.0.0.1", 8470};
    const ListenAddress lan{"192.168.1.20", 8470};
    const ListenAddress any{"0.0.0.0", 8470};
    struct Case {
        const ListenAddress& listen;
        const char* host;
        bool allowed;
    };
    for (const Case& c :
         std::initializer_list<Case>{{local, "127.0.0.1:8470", true},
                                     {local, "localhost:8470", true},
                                     {local, "[::1]:8470", true},
                                     {local, "127.0.0.1:8471", false},
                                     {local, "127.0.0.1", false},
                                     {local, "rebound.example:8470", false},  // DNS rebinding
                                     {local, "", false},
                                     {lan, "192.168.1.20:8470", true},
                                     {lan, "localhost:8470", false},
                                     {any, "10.0.0.7:8470", true},
                                     {any, "scales.example:8470", false}}) {
        EXPECT_EQ(host_allowed(c.listen, c.host), c.allowed) << c.listen.text() << " " << c.host;
    }
    EXPECT_TRUE(origin_allowed(local, ""));  // curl and scripts send none
    EXPECT_TRUE(origin_allowed(local, "http://localhost:8470"));
    EXPECT_FALSE(origin_allowed(local, "http://evil.example"));
    EXPECT_FALSE(origin_allowed(local, "https://127.0.0.1:8470"));
    EXPECT_FALSE(origin_allowed(local, "null"));
}

TEST(RequestGuard, ChangesNeedTheSessionsTokenAndWithAPasswordALogin) {
    PageSessions open(std::nullopt);
    const PageSession s = open.session("");
    EXPECT_TRUE(open.may_read(s.id));
    EXPECT_TRUE(open.may_change(s.id, s.token));
    EXPECT_FALSE(open.may_change(s.id, ""));
    EXPECT_FALSE(open.may_change(s.id, open.session("").token));  // another session's
    EXPECT_FALSE(open.may_change("made-up", s.token));
    EXPECT_EQ(open.session(s.id).token, s.token);

    PageSessions guarded(hash_password("ladne wagi", {9}, 5));
    const PageSession g = guarded.session("");
    EXPECT_FALSE(guarded.may_read(g.id));
    EXPECT_FALSE(guarded.may_change(g.id, g.token));
    EXPECT_FALSE(guarded.log_in(g.id, "wrong"));  // and slowed: not timed here
    EXPECT_FALSE(guarded.may_read(g.id));
    EXPECT_TRUE(guarded.log_in(g.id, "ladne wagi"));
    EXPECT_TRUE(guarded.may_read(g.id));
    EXPECT_TRUE(guarded.may_change(g.id, g.token));
    EXPECT_TRUE(guarded.password_confirmed("ladne wagi"));
    EXPECT_FALSE(guarded.log_in("made-up", "ladne wagi"));
}

TEST(RequestGuard, SessionsAreBounded) {
    PageSessions sessions(std::nullopt);
    const PageSession first = sessions.session("");
    for (std::size_t i = 0; i < PageSessions::max_sessions; ++i) (void)sessions.session("");
    EXPECT_FALSE(sessions.find(first.id).has_value());
}

TEST(Uploads, StayInTheirFolderUnderNamesOfTheirOwnAndAreBounded) {
    testing::ScratchDir dir;
    auto uploads = Uploads::open(dir.path() / "up");
    ASSERT_TRUE(uploads.has_value()) << uploads.error();
    const auto first = uploads->save("../../etc/ceny lista.csv", "plu;cena\n1;4,99\n");
    ASSERT_TRUE(first.has_value()) << first.error();
    EXPECT_EQ(first->path, dir.path() / "up" / "u1-ceny_lista.csv");
    EXPECT_EQ(first->name, "../../etc/ceny lista.csv");  // only to be shown
    EXPECT_TRUE(first->price_list);
    for (std::size_t i = 0; i < uploads_kept + 1; ++i) ASSERT_TRUE(uploads->save(".txt", "x"));
    EXPECT_EQ(uploads->list().size(), uploads_kept);
    EXPECT_FALSE(uploads->find("u2").has_value());
    EXPECT_FALSE(std::filesystem::exists(first->path));
    EXPECT_EQ(uploads->list().front().id, "u3");
    // Taken up again after a restart, numbered on.
    auto again = Uploads::open(dir.path() / "up");
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->list().size(), uploads_kept);
    EXPECT_EQ(again->save("a.txt", "y")->id, fmt::format("u{}", uploads_kept + 3));
}

// A run that goes through two scales of ten records each, stopping when asked.
int fake_backup(const std::vector<std::string>& words, ShopEnvironment& env, std::ostream& out,
                std::ostream& err, JobObserver* watching, std::atomic<int>& gate) {
    JobObserver nobody;  // a run without a watcher (a plan) tells no one
    JobObserver* watcher = watching ? watching : &nobody;
    err << "ktnet backup: starting " << words.size() << " words\n";
    for (const char* name : {"1S1", "1S2"}) {
        const ScaleAddress scale = *ScaleAddress::parse(name);
        watcher->scale_started(scale, 10);
        for (std::size_t n = 1; n <= 10; ++n) {
            while (gate.load() == 0 && env.context.stop_signal() == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (env.context.stop_signal() != 0) {
                watcher->scale_done(scale, {n - 1, 10, false, "stopped", 0});
                out << R"({"status": 130})";
                return 128 + env.context.stop_signal();
            }
            gate.fetch_sub(1);
            watcher->record_done(scale, n, {0, static_cast<std::uint32_t>(n), "read", true});
        }
        watcher->scale_done(scale, {10, 10, true, "ok", 0});
    }
    out << R"({"status": 0})";
    return 0;
}

TEST(PageJobs, FollowsOneJobAtATimeAndStopsItBetweenRecords) {
    std::atomic<int> gate{0};
    const RunWords run = [&](const std::vector<std::string>& w, ShopEnvironment& env,
                             std::ostream& out, std::ostream& err, JobObserver* watcher) {
        return fake_backup(w, env, out, err, watcher, gate);
    };
    PageJobs jobs(run, ShopEnvironment{}, [](const ScaleAddress& s) { return s.text() + " deli"; });
    EXPECT_TRUE(jobs.current().is_null());
    const auto one = *ScaleAddress::parse("1S1"), two = *ScaleAddress::parse("1S2");
    const auto started = jobs.start({"backup", {"backup", "1S1,1S2", "--json"}, {one, two}});
    ASSERT_TRUE(started.has_value());
    EXPECT_EQ((*started)["command"], "ktnet backup 1S1,1S2 --json");
    EXPECT_EQ((*started)["scales"][1]["label"], "1S2 deli");
    EXPECT_FALSE(jobs.start({"scan", {"scan"}, {}}).has_value());  // one at a time
    EXPECT_FALSE(jobs.run_now({"load", "--dry-run"}).has_value());

    gate = 13;  // the first scale, and three records of the second
    auto seen = jobs.version();
    while (jobs.current()["scales"][1]["done"] != 3) {
        jobs.wait_for_change(seen, std::chrono::seconds(5));
        seen = jobs.version();
    }
    const nlohmann::json midway = jobs.current();
    EXPECT_EQ(midway["state"], "running");
    EXPECT_EQ(midway["scales"][0]["state"], "done");
    EXPECT_EQ(midway["scales"][1]["percent"], 30);
    jobs.stop();
    while (jobs.running()) jobs.wait_for_change(jobs.version(), std::chrono::seconds(5));

    const nlohmann::json ended = jobs.current();
    EXPECT_EQ(ended["state"], "stopped");
    EXPECT_EQ(ended["status"], 128 + SIGINT);
    EXPECT_EQ(ended["scales"][1]["state"], "stopped");
    EXPECT_EQ(ended["scales"][1]["done"], 3);  // not one record more
    EXPECT_EQ(ended["document"]["status"], 130);
    EXPECT_EQ(ended["messages"][0], "ktnet backup: starting 3 words");

    // The stop was of that job alone: a plan after it, and the next job, run whole.
    gate = 20;
    const auto plan = jobs.run_now({"load", "--dry-run"});
    ASSERT_TRUE(plan.has_value());
    EXPECT_EQ(plan->status, 0);
    gate = 20;
    ASSERT_TRUE(jobs.start({"backup", {"backup"}, {one, two}}).has_value());
    while (jobs.running()) jobs.wait_for_change(jobs.version(), std::chrono::seconds(5));
    EXPECT_EQ(jobs.current()["state"], "done");
    EXPECT_EQ(jobs.current()["id"], 2);
}

}  // namespace
}  // namespace ktnet
