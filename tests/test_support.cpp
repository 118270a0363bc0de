#include "test_support.hpp"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>

#include "plu/field_table.hpp"

namespace ktnet::testing {

ScratchDir::ScratchDir() {
    static std::mt19937_64 rng{std::random_device{}()};
    path_ = std::filesystem::temp_directory_path() / ("ktnet-test-" + std::to_string(rng()));
    std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string read_bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_bytes(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

sim::RecordBody random_record(std::mt19937& rng, std::uint32_t plu) {
    sim::RecordBody body;
    std::uniform_int_distribution<int> byte(0, 255);
    for (auto& b : body) b = static_cast<std::uint8_t>(byte(rng));
    body[0] = static_cast<std::uint8_t>(plu);
    body[1] = static_cast<std::uint8_t>(plu >> 8);
    body[2] = static_cast<std::uint8_t>(plu >> 16);
    return body;
}

void make_transferable(sim::RecordBody& body) {
    const std::size_t name = name_frame_byte - sim::record_body_offset;
    for (std::size_t i = name; i < name + name_length; ++i) {
        if (body[i] == '\n' || body[i] == 0x1A) body[i] = 'N';
    }
    for (const PluField& f : plu_fields) {
        if (f.encoding != FieldEncoding::digit) continue;
        auto& b = body[f.frame_byte - sim::record_body_offset];
        if (b == 0xDA || b == 0xEA) b = 0;
    }
}

FrameBuffer frame_of(std::initializer_list<std::uint8_t> bytes) {
    FrameBuffer f{};
    std::copy(bytes.begin(), bytes.end(), f.begin());
    return f;
}

ScaleAddress address(std::string_view text) {
    return ScaleAddress::parse(text).value();
}

std::string test_name(std::string_view description) {
    std::string name(description);
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

std::string as_string(std::span<const std::uint8_t> bytes) {
    return {bytes.begin(), bytes.end()};
}

}  // namespace ktnet::testing

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ktnet::testing {

ProcessResult run_process(const std::string& program, const std::vector<std::string>& args,
                          const std::filesystem::path& working_dir) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return {};
    std::vector<std::string> argv_storage = {program};
    argv_storage.insert(argv_storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_storage) argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipe_fds[1], 1);
        const int null_fd = open("/dev/null", O_RDONLY);
        dup2(null_fd, 0);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        if (chdir(working_dir.c_str()) != 0) _exit(126);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    ProcessResult result;
    char buffer[4096];
    for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) > 0;) {
        result.output.append(buffer, static_cast<std::size_t>(n));
    }
    close(pipe_fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
    return result;
}

}  // namespace ktnet::testing
