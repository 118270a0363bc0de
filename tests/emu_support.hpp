// What the end-to-end tests share: ktnet-emu runs, scale files, a pseudo-terminal runner.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sim/scale_file.hpp"
#include "test_support.hpp"

namespace ktnet::testing {

inline const std::string rdk_ok = "\nparametry wywolania OK";
inline const std::string ldk_ok = "\n parametry wywolania OK";
inline const std::string found = "wykryto urzadzenie kt-net\n";
inline const std::string other = "wykryto urzadzenie hid inne niz kt-net\n";
inline const std::string rdk_no_answer = "\nbrak prawid\xC5\x82owej odpowiedzi z wagi";
inline const std::string ldk_not_accepted = "\nbrak prawidlowej odpowiedzi wagi";

class Emulated : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        testing::ScratchDir dir;
        const auto probe =
            testing::run_process(KTNET_EMU_PATH, {"--no-controller", "--", "true"}, dir.path());
        if (probe.exit_status != 0)
            skip_reason_ = "umockdev cannot run here (ktnet-emu exited with " +
                           std::to_string(probe.exit_status) + ")";
    }
    void SetUp() override {
        if (!skip_reason_.empty()) GTEST_SKIP() << skip_reason_;
    }

    // ktnet-emu with its options, then "--" and the command.
    testing::ProcessResult emu(std::vector<std::string> options, std::vector<std::string> command) {
        options.push_back("--");
        options.insert(options.end(), command.begin(), command.end());
        return testing::run_process(KTNET_EMU_PATH, options, dir.path());
    }

    void write_scales(const std::string& name, ScaleAddress id,
                      const std::map<std::uint32_t, sim::RecordBody>& records) {
        std::string content;
        for (const auto& [plu, body] : records) {
            const FormattedLine line = sim::scale_file_line(id, body);
            content.append(line.begin(), line.end() - 1);  // keep CR, add CR LF as the writer does
            content += "\r\n";
        }
        testing::write_bytes(dir / name, content);
    }

    std::map<ScaleAddress, sim::Scale> read_scales(const std::string& name) {
        sim::SimulatedController c;
        std::string error;
        EXPECT_TRUE(sim::load_scales(dir / name, c, error)) << error;
        return c.scales();
    }

    static sim::RecordBody article(std::uint32_t plu, std::string name) {
        sim::RecordBody body = sim::empty_record(plu);
        name.resize(24, ' ');
        std::copy(name.begin(), name.end(), body.begin() + 3);
        return body;
    }

    testing::ScratchDir dir;
    static inline std::string skip_reason_;
};

struct TerminalRun {
    std::size_t stars = 0;  // "*" that reached the terminal
    int exit_status = -1;   // of the command, -1 when it did not exit normally
    std::string output;     // what the terminal showed
};

// Runs a command on a pseudo-terminal, as a user at a console would. Once kill_when(output so
// far, time since the start) is true, sends the signal to the process whose id the pid file
// holds (the program under ktnet-emu). Standard error does not go to the terminal.
TerminalRun run_on_terminal(
    const std::vector<std::string>& command, const std::filesystem::path& cwd,
    const std::filesystem::path& pid_file, int signal,
    const std::function<bool(const std::string&, std::chrono::milliseconds)>& kill_when);

}  // namespace ktnet::testing
