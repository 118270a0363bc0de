#include "emu_options.hpp"

#include <charconv>

namespace ktnet::emu {

const std::string_view emu_usage =
    R"(Usage: ktnet-emu [options] -- command [arguments...]

Runs the command with an emulated KT-NET controller: a USB HID device whose product string
is "KT-NET CONTROLLER", found and opened through hidraw like the real one, answering as a
controller with scales behind it. Exits with the command's exit status; with 65 when the
controller saw a malformed report (each one is listed on standard error), 64 for a bad
command line and 70 when the emulation could not be set up or the scales could not be saved
(the scales file then keeps what it held). The command starts with every
signal at its default and none blocked; while it runs, ktnet-emu ignores SIGINT and SIGQUIT
(a Ctrl+C at the terminal reaches the command, which decides) and saves the scales after it.

As Linux hidraw does, every open of the device has its own queue of input reports and gets
a copy of every answer, whoever asked; the device polls readable while an answer is due.

Options:
  --scales FILE            the scales' memory, in PLU text lines ("1 S 01 xx000001 NAME...");
                           loaded at the start if the file exists, saved back at the end
  --scale C:L:N            a scale on channel C (1-4), section S or terminal T, number N (1-9),
                           even if it holds no records; repeatable
  --other-device PRODUCT   an openable HID device with another product string, listed before
                           the controller; repeatable, in order
  --unopenable-device      a HID device that cannot be opened, listed before the controller;
                           repeatable, in order
  --product TEXT           the controller's product string (default "KT-NET CONTROLLER")
  --no-controller          no controller at all
  --fault N:KIND           a fault at exchange N (0 is the opening frame, 1 the first record):
                           status5      the answer has status 5, the request is not carried out
                           wrong-code   the answer carries another command code
                           short        the answer frame ends early
                           garbage      the answer is noise
                           no-terminator  the answer has no terminator
                           write-fails  the write fails, nothing reaches the scale
                           read-fails   the request is carried out, then the read fails
                           unplugged    this and every later write and read fail
                           stray        the answer comes twice
                           wrong-plu    a PLU request is answered with the next PLU's record
                           bad-checksum a byte of the answer changes after its checksum
                           stall        the request is carried out, no answer ever comes
                           wrong-address  the answer carries the next scale's address byte
                           latency:US   the answer comes US microseconds late
                           late:MS      the answer comes MS milliseconds late
  --latency-us US          delay every answer by US microseconds
  --quirk NAME             the scales answer their own way throughout; repeatable:
                           unknown-plu-zero     a PLU they do not hold comes back numbered 0
                           checksum-off-by-one  every answer's checksum is one too high
                           own-address          every answer carries address byte 0x00
  --pid-file FILE          write the command's process id to FILE
  --usage-file FILE        write the command's resource use to FILE when it ends:
                           "max_rss_kb N", "user_us N", "system_us N", one per line
  --log FILE               append umockdev's own warnings to FILE; without it they are
                           dropped, so that they never reach the command's console
  --version                the version, then exit
  --help                   this text
)";

namespace {

template <typename T>
std::optional<T> number(std::string_view text) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

std::optional<ScaleAddress> scale(std::string_view text) {
    const auto parts = split(text, ':');
    if (parts.size() != 3 || parts[1].size() != 1) return std::nullopt;
    const auto channel = number<unsigned>(parts[0]);
    const auto n = number<unsigned>(parts[2]);
    const char letter = parts[1][0];
    if (!channel || !n || (letter != 'S' && letter != 'T')) return std::nullopt;
    return ScaleAddress::make(*channel, letter, *n);
}

std::optional<std::pair<std::size_t, sim::Fault>> fault(std::string_view text) {
    const auto parts = split(text, ':');
    if (parts.size() < 2 || parts.size() > 3) return std::nullopt;
    const auto exchange = number<std::size_t>(parts[0]);
    // late:MS is a latency given in milliseconds.
    const bool late = parts[1] == "late";
    const auto kind = late ? sim::FaultKind::latency : sim::fault_kind_from_name(parts[1]);
    if (!exchange || !kind) return std::nullopt;
    sim::Fault f{*kind};
    if (*kind == sim::FaultKind::latency) {
        if (parts.size() != 3) return std::nullopt;
        const auto delay = number<long>(parts[2]);
        if (!delay || *delay < 0) return std::nullopt;
        f.delay = late ? std::chrono::milliseconds(*delay) : std::chrono::microseconds(*delay);
    } else if (parts.size() != 2) {
        return std::nullopt;
    }
    return std::pair{*exchange, f};
}

// Sets the quirk named; false for an unknown name.
bool add_quirk(std::string_view name, sim::Quirks& quirks) {
    if (name == "unknown-plu-zero") {
        quirks.unknown_plu_as_zero = true;
    } else if (name == "checksum-off-by-one") {
        quirks.checksum_off_by_one = true;
    } else if (name == "own-address") {
        quirks.own_address = true;
    } else {
        return false;
    }
    return true;
}

}  // namespace

ParsedOptions parse_emu_options(std::span<const std::string_view> args) {
    EmuOptions o;
    auto fail = [](std::string message) { return ParsedOptions{std::nullopt, std::move(message)}; };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view a = args[i];
        if (a == "--") {
            o.command.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            break;
        }
        if (a == "--help") {
            o.help = true;
            continue;
        }
        if (a == "--version") {
            o.version = true;
            continue;
        }
        if (a == "--no-controller") {
            o.controller = false;
            continue;
        }
        if (a == "--unopenable-device") {
            o.devices_before.push_back({false, "Unopenable HID device"});
            continue;
        }
        const bool takes_value = a == "--scales" || a == "--scale" || a == "--other-device" ||
                                 a == "--product" || a == "--fault" || a == "--latency-us" ||
                                 a == "--quirk" || a == "--pid-file" || a == "--usage-file" ||
                                 a == "--log";
        if (!takes_value) return fail("unknown option: " + std::string(a));
        if (i + 1 == args.size()) return fail(std::string(a) + " needs a value");
        const std::string_view v = args[++i];
        if (a == "--scales") {
            o.scales_file = std::string(v);
        } else if (a == "--scale") {
            const auto s = scale(v);
            if (!s)
                return fail("--scale takes CHANNEL:S|T:NUMBER, e.g. 1:S:1, not " + std::string(v));
            o.scales.push_back(*s);
        } else if (a == "--other-device") {
            o.devices_before.push_back({true, std::string(v)});
        } else if (a == "--product") {
            o.product = std::string(v);
        } else if (a == "--fault") {
            const auto f = fault(v);
            if (!f)
                return fail(
                    "--fault takes EXCHANGE:KIND, EXCHANGE:latency:MICROSECONDS or "
                    "EXCHANGE:late:MILLISECONDS, not " +
                    std::string(v));
            o.faults.push_back(*f);
        } else if (a == "--latency-us") {
            const auto us = number<long>(v);
            if (!us || *us < 0) return fail("--latency-us takes a number of microseconds");
            o.latency = std::chrono::microseconds(*us);
        } else if (a == "--quirk") {
            if (!add_quirk(v, o.quirks))
                return fail(
                    "--quirk takes unknown-plu-zero, checksum-off-by-one or own-address, not " +
                    std::string(v));
        } else if (a == "--pid-file") {
            o.pid_file = std::string(v);
        } else if (a == "--usage-file") {
            o.usage_file = std::string(v);
        } else {
            o.log_file = std::string(v);
        }
    }
    if (!o.help && !o.version && o.command.empty()) return fail("no command given after --");
    return ParsedOptions{std::move(o), {}};
}

}  // namespace ktnet::emu
