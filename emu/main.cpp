// ktnet-emu: runs a command with an emulated KT-NET controller on an emulated hidraw device,
// so that the unchanged rdk and ldk find it and talk to it through hidapi and the kernel's
// device interface as they would to the real one.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "controller_node.hpp"
#include "emu_options.hpp"
#include "glib_log.hpp"
#include "hidraw_testbed.hpp"
#include "sim/scale_file.hpp"
#include "sim/simulated_controller.hpp"

namespace {

using namespace ktnet;

constexpr int exit_usage = 64;
constexpr int exit_violations = 65;
constexpr int exit_setup = 70;

bool umockdev_preloaded() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload && std::strstr(preload, "libumockdev-preload") != nullptr;
}

// The testbed only works inside umockdev's preload library; start again under it. A
// sanitizer runtime would refuse to run behind that library, so it is told not to check.
int restart_under_umockdev(char** argv) {
    std::string asan = "verify_asan_link_order=0";
    if (const char* old = std::getenv("ASAN_OPTIONS")) asan = std::string(old) + ":" + asan;
    setenv("ASAN_OPTIONS", asan.c_str(), 1);
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    std::vector<char*> args = {const_cast<char*>("umockdev-wrapper"),
                               const_cast<char*>(ec ? argv[0] : self.c_str())};
    for (char** a = argv + 1; *a; ++a) args.push_back(*a);
    args.push_back(nullptr);
    execvp(args[0], args.data());
    std::cerr << "ktnet-emu: cannot start umockdev-wrapper (" << std::strerror(errno)
              << "); install the umockdev package\n";
    return exit_setup;
}

int wait_for(pid_t pid, const std::optional<std::string>& usage_file) {
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) return exit_setup;
    }
    if (usage_file) {
        const auto us = [](timeval t) { return t.tv_sec * 1000000L + t.tv_usec; };
        std::ofstream(*usage_file)
            << "max_rss_kb " << usage.ru_maxrss << "\nuser_us " << us(usage.ru_utime)
            << "\nsystem_us " << us(usage.ru_stime) << "\n";
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return exit_setup;
}

// The command starts as from a shell: no signal ignored or blocked. This process's own
// libraries ignore SIGPIPE, which the command must not inherit.
void restore_signal_defaults() {
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    for (int s = 1; s < NSIG; ++s) {
        if (s != SIGKILL && s != SIGSTOP) sigaction(s, &default_action, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

int run_command(const emu::EmuOptions& o) {
    std::vector<char*> args;
    for (const auto& a : o.command) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    // As system() does: a Ctrl+C or Ctrl+\ at the terminal reaches the command too, which
    // decides; this process outlives it to save the scales.
    signal(SIGINT, SIG_IGN);
    signal(SIGQUIT, SIG_IGN);
    const pid_t pid = fork();
    if (pid < 0) return exit_setup;
    if (pid == 0) {
        restore_signal_defaults();
        execvp(args[0], args.data());
        std::cerr << "ktnet-emu: cannot run " << o.command[0] << ": " << std::strerror(errno)
                  << "\n";
        _exit(127);
    }
    if (o.pid_file) std::ofstream(*o.pid_file) << pid << "\n";
    return wait_for(pid, o.usage_file);
}

// A HID device that is not the controller: it opens, but every write and read fails.
class RefusingDevice final : public emu::DeviceHandler {
public:
    void attached(std::unique_ptr<emu::NodeReadiness>) override {}
    void opened(emu::ClientId) override {}
    void closed(emu::ClientId) override {}
    bool write(emu::ClientId, std::span<const std::uint8_t>) override { return false; }
    void read(emu::ClientId, std::unique_ptr<emu::PendingRead> read) override { read->fail(EIO); }
};

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const auto parsed = emu::parse_emu_options(args);
    if (!parsed.options) {
        std::cerr << "ktnet-emu: " << parsed.error << "\n\n" << emu::emu_usage;
        return exit_usage;
    }
    const emu::EmuOptions& o = *parsed.options;
    if (o.help) {
        std::cout << emu::emu_usage;
        return 0;
    }
    if (o.version) {
        std::cout << "ktnet-emu " KTNET_VERSION "\n";
        return 0;
    }
    if (!umockdev_preloaded()) return restart_under_umockdev(argv);
    // A write over the file-size limit, or to a console that has gone, fails and is reported
    // instead of killing the emulator before it has saved the scales. The command starts with
    // every signal at its default all the same.
    signal(SIGXFSZ, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);

    sim::SimulatedController controller;
    std::string error;
    if (o.scales_file && std::filesystem::exists(*o.scales_file) &&
        !sim::load_scales(*o.scales_file, controller, error)) {
        std::cerr << "ktnet-emu: " << error << "\n";
        return exit_setup;
    }
    for (const auto id : o.scales) controller.add_scale(id);
    for (const auto& [exchange, fault] : o.faults) controller.inject(exchange, fault);
    controller.set_latency(o.latency);
    controller.set_quirks(o.quirks);

    if (!emu::keep_glib_messages_off_console(o.log_file)) {
        std::cerr << "ktnet-emu: cannot open " << *o.log_file << ": " << std::strerror(errno)
                  << "\n";
        return exit_setup;
    }
    auto testbed = emu::HidrawTestbed::create(error);
    bool ready = testbed != nullptr;
    for (const auto& d : o.devices_before) {
        if (!ready) break;
        ready = testbed->add_device(
            d.product, d.openable ? std::make_shared<RefusingDevice>() : nullptr, error);
    }
    std::shared_ptr<emu::ControllerNode> node;
    if (ready && o.controller) {
        node = std::make_shared<emu::ControllerNode>(controller);
        ready = testbed->add_device(o.product, node, error);
    }
    if (!ready) {
        std::cerr << "ktnet-emu: " << error << "\n";
        return exit_setup;
    }

    const int status = run_command(o);

    if (node) node->stop();
    if (o.scales_file && !sim::save_scales(*o.scales_file, controller, error)) {
        std::cerr << "ktnet-emu: " << error << "\n";
        return exit_setup;
    }
    for (const auto& v : controller.violations())
        std::cerr << "ktnet-emu: protocol violation: " << v << "\n";
    return controller.violations().empty() ? status : exit_violations;
}
