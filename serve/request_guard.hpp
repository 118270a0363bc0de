// What keeps the shop's page to the people it is for. The server listens on 127.0.0.1 unless
// it has a password. A request's Host must name the address it listens on (so that a foreign
// name resolved to it, DNS rebinding, reaches nothing), and a browser's Origin must be the
// page's own (so that another site cannot drive it). Every change is a POST carrying its
// session's token; with a password, the session must have logged in, and a load or restore asks
// for the password again. Wrong passwords are slowed.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.hpp"
#include "serve/password_file.hpp"

namespace ktnet {

struct ListenAddress {
    std::string host = "127.0.0.1";  // an IPv4 address, or "localhost"
    std::uint16_t port = 8470;
    bool loopback() const;  // 127.0.0.0/8 or localhost
    bool any() const { return host == "0.0.0.0"; }
    std::string text() const;  // "127.0.0.1:8470"
};

// "ADDR:PORT", "ADDR" (port 8470) or ":PORT" (127.0.0.1).
[[nodiscard]] Result<ListenAddress, std::string> parse_listen_address(std::string_view text);

// The Host header a request may carry: the listen address itself, with localhost's names when it
// is a loopback one; when it listens on every address (0.0.0.0), any IPv4 address with its port,
// as a name, unlike an address, can be pointed anywhere.
bool host_allowed(const ListenAddress& listen, std::string_view host);
// A browser's Origin: none (a program such as curl), or http:// and an allowed Host.
bool origin_allowed(const ListenAddress& listen, std::string_view origin);

struct PageSession {
    std::string id;     // in the cookie
    std::string token;  // carried by every POST
    bool logged_in = false;
};

class PageSessions {
public:
    using Clock = std::chrono::steady_clock;

    explicit PageSessions(std::optional<PasswordHash> password) : password_(std::move(password)) {}

    bool has_password() const { return password_.has_value(); }

    // The session of a cookie's id, or a new one; the oldest are forgotten beyond a bound, so
    // that no client can make the server grow.
    PageSession session(std::string_view id);
    std::optional<PageSession> find(std::string_view id) const;
    // Whether the session may read the page's data: always without a password.
    bool may_read(std::string_view id) const;
    // Whether a POST may change something: its session is known (and logged in, with a
    // password) and the token is the session's.
    bool may_change(std::string_view id, std::string_view token) const;

    // Checks a password; a wrong one is answered only after a pause that grows with each wrong
    // one in a row (one try at a time, so that guesses in parallel are slowed alike).
    bool log_in(std::string_view id, std::string_view password);
    // The password asked again before a load or restore: true without a password.
    bool password_confirmed(std::string_view password);

    static constexpr std::size_t max_sessions = 256;

private:
    bool check_slowly(std::string_view password);

    std::optional<PasswordHash> password_;
    mutable std::mutex mutex_;
    std::map<std::string, PageSession, std::less<>> sessions_;
    std::map<std::string, std::uint64_t, std::less<>> made_;  // the order sessions were made in
    std::uint64_t made_count_ = 0;
    std::mutex tries_;  // one password try at a time
    unsigned wrong_in_a_row_ = 0;
};

}  // namespace ktnet
