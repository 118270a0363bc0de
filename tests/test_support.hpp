// Helpers shared by the tests: scratch folders, file contents, random records.
#pragma once

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "link/frame.hpp"
#include "link/scale_address.hpp"
#include "sim/simulated_controller.hpp"

namespace ktnet::testing {

// A fresh folder under the system's temporary folder, removed with its contents at the end.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

std::string read_bytes(const std::filesystem::path& path);
void write_bytes(const std::filesystem::path& path, std::string_view bytes);

// A record whose every byte is random, but for the PLU number, which is given.
sim::RecordBody random_record(std::mt19937& rng, std::uint32_t plu);

// Changes the bytes that cannot travel through a text file unchanged: LF and 0x1A in the
// name, and Digit bytes 0xDA and 0xEA (written as LF and 0x1A).
void make_transferable(sim::RecordBody& body);

// A raw frame in a frame buffer, from its bytes.
FrameBuffer frame_of(std::initializer_list<std::uint8_t> bytes);

std::string as_string(std::span<const std::uint8_t> bytes);

// A case's description as a GoogleTest name: every character other than a letter or a digit
// becomes '_'.
std::string test_name(std::string_view description);

// A scale written as "1S1"; the text must be valid.
ScaleAddress address(std::string_view text);

}  // namespace ktnet::testing

namespace ktnet::testing {

struct ProcessResult {
    int exit_status = -1;  // -1 when it did not exit normally
    std::string output;    // standard output
};

// Runs a program with the given arguments in a working folder, stdin from /dev/null.
ProcessResult run_process(const std::string& program, const std::vector<std::string>& args,
                          const std::filesystem::path& working_dir);

}  // namespace ktnet::testing
