#include "request_guard.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <thread>

namespace ktnet {

namespace {

constexpr std::uint16_t default_port = 8470;

bool is_ipv4(std::string_view text) {
    int parts = 0;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = std::min(text.find('.', start), text.size());
        const std::string_view part = text.substr(start, end - start);
        unsigned value = 0;
        const auto [p, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (part.empty() || part.size() > 3 || ec != std::errc() ||
            p != part.data() + part.size() || value > 255)
            return false;
        ++parts;
        if (end == text.size()) break;
        start = end + 1;
    }
    return parts == 4;
}

// "host:port" split; the port must be given.
std::optional<std::pair<std::string_view, std::uint16_t>> host_and_port(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const std::string_view port = text.substr(colon + 1);
    std::uint16_t value = 0;
    const auto [p, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (port.empty() || ec != std::errc() || p != port.data() + port.size()) return std::nullopt;
    return std::pair{text.substr(0, colon), value};
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

}  // namespace

bool ListenAddress::loopback() const {
    return host == "localhost" || host.starts_with("127.");
}

std::string ListenAddress::text() const {
    return fmt::format("{}:{}", host, port);
}

Result<ListenAddress, std::string> parse_listen_address(std::string_view text) {
    ListenAddress a;
    std::string_view host = text;
    if (const std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
        host = text.substr(0, colon);
        const std::string_view port = text.substr(colon + 1);
        unsigned value = 0;
        const auto [p, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (port.empty() || ec != std::errc() || p != port.data() + port.size() || value == 0 ||
            value > 65535)
            return unexpected(fmt::format("\"{}\": the port must be 1 to 65535", text));
        a.port = static_cast<std::uint16_t>(value);
    } else {
        a.port = default_port;
    }
    if (host.empty()) host = "127.0.0.1";
    const std::string name = lower(host);
    if (name != "localhost" && !is_ipv4(name))
        return unexpected(fmt::format(
            "\"{}\": give an IPv4 address and a port, such as 127.0.0.1:8470 or 0.0.0.0:8470",
            text));
    a.host = name;
    return a;
}

bool host_allowed(const ListenAddress& listen, std::string_view host) {
    const std::string lowered = lower(host);
    const auto parts = host_and_port(lowered);
    if (!parts || parts->second != listen.port) return false;
    const std::string_view name = parts->first;
    if (name == listen.host) return true;
    if (listen.loopback()) return name == "localhost" || name == "127.0.0.1" || name == "[::1]";
    if (listen.any()) return is_ipv4(name);
    return false;
}

bool origin_allowed(const ListenAddress& listen, std::string_view origin) {
    if (origin.empty()) return true;
    constexpr std::string_view http = "http://";
    const std::string o = lower(origin);
    return o.starts_with(http) && host_allowed(listen, std::string_view(o).substr(http.size()));
}

PageSession PageSessions::session(std::string_view id) {
    std::lock_guard lock(mutex_);
    if (auto it = sessions_.find(id); it != sessions_.end()) return it->second;
    if (sessions_.size() >= max_sessions) {
        const auto oldest = std::min_element(made_.begin(), made_.end(),
                                             [](auto& a, auto& b) { return a.second < b.second; });
        sessions_.erase(oldest->first);
        made_.erase(oldest);
    }
    PageSession s{random_hex(16), random_hex(16), false};
    sessions_.emplace(s.id, s);
    made_.emplace(s.id, made_count_++);
    return s;
}

std::optional<PageSession> PageSessions::find(std::string_view id) const {
    std::lock_guard lock(mutex_);
    if (auto it = sessions_.find(id); it != sessions_.end()) return it->second;
    return std::nullopt;
}

bool PageSessions::may_read(std::string_view id) const {
    if (!password_) return true;
    const auto s = find(id);
    return s && s->logged_in;
}

bool PageSessions::may_change(std::string_view id, std::string_view token) const {
    const auto s = find(id);
    if (!s || token.empty() || s->token != token) return false;
    return !password_ || s->logged_in;
}

bool PageSessions::check_slowly(std::string_view password) {
    std::lock_guard one_at_a_time(tries_);
    if (password_matches(*password_, password)) {
        wrong_in_a_row_ = 0;
        return true;
    }
    wrong_in_a_row_ = std::min(wrong_in_a_row_ + 1, 5u);
    std::this_thread::sleep_for(std::chrono::seconds(wrong_in_a_row_));
    return false;
}

bool PageSessions::log_in(std::string_view id, std::string_view password) {
    if (!password_) return true;
    if (!find(id) || !check_slowly(password)) return false;
    std::lock_guard lock(mutex_);
    if (auto it = sessions_.find(id); it != sessions_.end()) it->second.logged_in = true;
    return true;
}

bool PageSessions::password_confirmed(std::string_view password) {
    return !password_ || check_slowly(password);
}

}  // namespace ktnet
