#include "cli/text_file.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include "test_support.hpp"

namespace ktnet {
namespace {

using testing::read_bytes;
using testing::ScratchDir;
using testing::write_bytes;
using Kind = FileError::Kind;
using Contents = LockedFile::Contents;

std::span<const std::uint8_t> bytes_of(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(TextWriter, StoresEachLfAsCrLfAndEveryOtherByteUnchanged) {
    ScratchDir dir;
    {
        auto file = LockedFile::open_for_writing(dir / "out.txt", Contents::emptied);
        ASSERT_TRUE(file);
        TextWriter w(std::move(*file));
        ASSERT_TRUE(w.write(bytes_of("ab\r\n")));
        ASSERT_TRUE(w.write(bytes_of(std::string_view("\x1A\0\r\n\n", 5))));
    }
    EXPECT_EQ(read_bytes(dir / "out.txt"), std::string_view("ab\r\r\n\x1A\0\r\r\n\r\n", 12));
}

// What each opener makes of one kind of name: nullopt where it opens.
struct OpenCase {
    const char* what;
    std::function<void(const ScratchDir&)> make;  // makes "name" in the folder
    std::optional<Kind> reading, writing, result;
};

void bind_socket(const std::filesystem::path& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);  // the name stays
}

class Opening : public ::testing::TestWithParam<OpenCase> {};

// None of these may block: a FIFO without a peer would hold an open() that waits for one.
TEST_P(Opening, TakesOnlyWhatCanHoldLines) {
    const OpenCase& c = GetParam();
    ScratchDir dir;
    c.make(dir);
    const auto kind_of = [](const FileResult<LockedFile>& r) -> std::optional<Kind> {
        if (r) return std::nullopt;
        EXPECT_FALSE(r.error().reason.empty());
        return r.error().kind;
    };
    EXPECT_EQ(kind_of(LockedFile::open_for_reading(dir / "name")), c.reading) << "reading";
    EXPECT_EQ(kind_of(LockedFile::open_for_writing(dir / "name", Contents::kept)), c.writing)
        << "writing";
    if (std::filesystem::exists(dir / "target")) {
        EXPECT_EQ(read_bytes(dir / "target"), "target");  // kept contents, even through a link
    }
    EXPECT_EQ(kind_of(LockedFile::open_result_file(dir / "name", Contents::emptied)), c.result)
        << "result file";
    if (std::filesystem::exists(dir / "target")) {
        EXPECT_EQ(read_bytes(dir / "target"), "target");  // never emptied through a link
    }
}

INSTANTIATE_TEST_SUITE_P(
    LockedFile, Opening,
    ::testing::Values(
        OpenCase{"regular_file", [](auto& d) { write_bytes(d / "name", "x"); }, {}, {}, {}},
        OpenCase{"missing", [](auto&) {}, Kind::missing, {}, {}},
        OpenCase{"directory", [](auto& d) { std::filesystem::create_directory(d / "name"); },
                 Kind::not_a_file, Kind::not_a_file, Kind::not_a_file},
        OpenCase{"fifo_without_peer",
                 [](auto& d) { ASSERT_EQ(mkfifo((d / "name").c_str(), 0600), 0); },
                 Kind::not_a_file, Kind::not_a_file, Kind::not_a_file},
        OpenCase{"socket", [](auto& d) { bind_socket(d / "name"); }, Kind::not_a_file,
                 Kind::not_a_file, Kind::not_a_file},
        OpenCase{"link_to_a_character_device",
                 [](auto& d) { std::filesystem::create_symlink("/dev/null", d / "name"); },
                 {},
                 {},
                 Kind::symbolic_link},
        OpenCase{"link_to_a_file",
                 [](auto& d) {
                     write_bytes(d / "target", "target");
                     std::filesystem::create_symlink("target", d / "name");
                 },
                 {},
                 {},
                 Kind::symbolic_link},
        OpenCase{"dangling_link",
                 [](auto& d) { std::filesystem::create_symlink("nowhere", d / "name"); },
                 Kind::missing,
                 {},
                 Kind::symbolic_link}),
    [](const auto& p) { return std::string(p.param.what); });

TEST(LockedFile, ResultFileMustBeRegularEvenWhenNamedDirectly) {
    const auto device = LockedFile::open_result_file("/dev/null", Contents::kept);
    ASSERT_FALSE(device);
    EXPECT_EQ(device.error().kind, Kind::not_a_file);
}

TEST(LockedFile, HeldFileCannotBeOpenedAndIsNotEmptied) {
    ScratchDir dir;
    write_bytes(dir / "held.txt", "keep me");
    {
        auto holder = LockedFile::open_for_reading(dir / "held.txt");
        ASSERT_TRUE(holder);
        for (const auto& refused :
             {LockedFile::open_for_writing(dir / "held.txt", Contents::emptied),
              LockedFile::open_result_file(dir / "held.txt", Contents::emptied),
              LockedFile::open_for_reading(dir / "held.txt")}) {
            ASSERT_FALSE(refused);
            EXPECT_EQ(refused.error().kind, Kind::held);
        }
        EXPECT_EQ(read_bytes(dir / "held.txt"), "keep me");
    }
    EXPECT_TRUE(LockedFile::open_for_reading(dir / "held.txt"));
}

TEST(LockedFile, KeptContentsStayUntilEmptiedThenTheFileStartsAfresh) {
    ScratchDir dir;
    write_bytes(dir / "out.txt", "last week\n");
    auto file = LockedFile::open_for_writing(dir / "out.txt", Contents::kept);
    ASSERT_TRUE(file);
    TextWriter w(std::move(*file));
    EXPECT_EQ(read_bytes(dir / "out.txt"), "last week\n");
    ASSERT_TRUE(w.write(bytes_of("more\n")));
    EXPECT_EQ(read_bytes(dir / "out.txt"), "last week\nmore\r\n");
    ASSERT_TRUE(w.empty());
    ASSERT_TRUE(w.write(bytes_of("new\n")));
    EXPECT_EQ(read_bytes(dir / "out.txt"), "new\r\n");
}

TEST(LockedFile, FailedWriteKeepsTheSystemsReason) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    auto file = LockedFile::open_for_writing("/dev/full", Contents::emptied);
    ASSERT_TRUE(file);
    const auto written = file->write(bytes_of(std::string(143, 'a')));
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().code, ENOSPC);
    EXPECT_EQ(written.error().reason, std::strerror(ENOSPC));
}

struct ReadCase {
    const char* what;
    std::string_view file;
    std::size_t max_length;
    std::vector<std::string> lines;  // "<too long>" stands for a too long line
};

class TextReading : public ::testing::TestWithParam<ReadCase> {};

TEST_P(TextReading, DeliversLinesAsTextModeDoes) {
    ScratchDir dir;
    write_bytes(dir / "in.txt", GetParam().file);
    auto file = LockedFile::open_for_reading(dir / "in.txt");
    ASSERT_TRUE(file);
    TextReader r(std::move(*file));
    std::vector<std::string> got;
    std::string line;
    for (;;) {
        const auto status = r.read_line(line, GetParam().max_length);
        if (status == TextReader::Line::end) break;
        got.push_back(status == TextReader::Line::too_long ? "<too long>" : line);
        if (status == TextReader::Line::too_long) break;
    }
    EXPECT_EQ(got, GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    TextFile, TextReading,
    ::testing::Values(
        ReadCase{"crlf", "a\r\nb\r\n", 142, {"a", "b"}}, ReadCase{"lf", "a\nb\n", 142, {"a", "b"}},
        ReadCase{"lone_cr", "a\rb\r\r\n", 142, {"a\rb\r"}},
        ReadCase{"last_line_without_lf", "a\nlast", 142, {"a", "last"}},
        ReadCase{"empty_line", "a\n\nb\n", 142, {"a", "", "b"}},
        ReadCase{"eof_mark",
                 "a\nb\x1A"
                 "c\nd\n",
                 142,
                 {"a", "b"}},
        ReadCase{"cr_before_eof_mark", "a\r\x1A\n", 142, {"a\r"}},
        ReadCase{"nul_kept", std::string_view("\0x\n", 3), 142, {std::string("\0x", 2)}},
        ReadCase{"exactly_max", "abcd\nef\n", 4, {"abcd", "ef"}},
        ReadCase{"exactly_max_at_end", "abcd", 4, {"abcd"}},
        ReadCase{"over_max", "abcde\nf\n", 4, {"<too long>"}},
        ReadCase{"crlf_not_counted", "abcd\r\n", 4, {"abcd"}}, ReadCase{"empty_file", "", 142, {}}),
    [](const auto& p) { return std::string(p.param.what); });

TEST(TextReading, CrLfSplitAcrossTheReadBufferIsStillOneLineEnd) {
    ScratchDir dir;
    std::string content(4095, 'x');
    content += "\r\nnext\n";
    write_bytes(dir / "in.txt", content);
    auto file = LockedFile::open_for_reading(dir / "in.txt");
    ASSERT_TRUE(file);
    TextReader r(std::move(*file));
    std::string line;
    ASSERT_EQ(r.read_line(line, 5000), TextReader::Line::read);
    EXPECT_EQ(line, std::string(4095, 'x'));
    ASSERT_EQ(r.read_line(line, 5000), TextReader::Line::read);
    EXPECT_EQ(line, "next");
}

// A file of three lines of 2000 characters: the first read block ends inside the third.
const std::string long_line = std::string(2000, 'a') + "\n";
const std::string three_lines = long_line + long_line + long_line;

struct ChangeCase {
    const char* what;
    std::function<void(const std::filesystem::path&)> change;
};

class ChangedInput : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(ChangedInput, IsReportedBeforeAnyLineOfTheNewBlock) {
    ScratchDir dir;
    write_bytes(dir / "in.txt", three_lines);
    auto file = LockedFile::open_for_reading(dir / "in.txt");
    ASSERT_TRUE(file);
    TextReader r(std::move(*file));
    std::string line;
    ASSERT_EQ(r.read_line(line, 5000), TextReader::Line::read);
    GetParam().change(dir / "in.txt");
    // The second line lies in the first block, read before the change.
    ASSERT_EQ(r.read_line(line, 5000), TextReader::Line::read);
    EXPECT_EQ(r.read_line(line, 5000), TextReader::Line::changed);
    EXPECT_EQ(r.error().kind, Kind::changed);
    EXPECT_EQ(r.read_line(line, 5000), TextReader::Line::changed);
    EXPECT_FALSE(r.rewind());
}

void set_modified(const std::filesystem::path& path, std::time_t seconds) {
    const timespec times[2] = {{0, UTIME_OMIT}, {seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

INSTANTIATE_TEST_SUITE_P(
    LockedFile, ChangedInput,
    ::testing::Values(
        ChangeCase{"appended", [](const auto& p) { write_bytes(p, three_lines + "more\n"); }},
        ChangeCase{"cut_short", [](const auto& p) { std::filesystem::resize_file(p, 4000); }},
        // Rewritten in place with as many bytes, as an editor saving over the file would;
        // the time is set apart in case the rewrite falls within the clock's last tick.
        ChangeCase{"rewritten_same_size",
                   [](const auto& p) {
                       std::string shifted = three_lines;
                       shifted[4100] = 'b';
                       write_bytes(p, shifted);
                       set_modified(p, 1'000'000'000);
                   }}),
    [](const auto& p) { return std::string(p.param.what); });

TEST(ChangedInput, RewindReadsTheSameLinesAndStillSeesALaterChange) {
    ScratchDir dir;
    write_bytes(dir / "in.txt", three_lines);
    auto file = LockedFile::open_for_reading(dir / "in.txt");
    ASSERT_TRUE(file);
    TextReader r(std::move(*file));
    std::string line;
    for (int pass = 0; pass < 2; ++pass) {
        for (int n = 0; n < 3; ++n) ASSERT_EQ(r.read_line(line, 5000), TextReader::Line::read);
        ASSERT_EQ(r.read_line(line, 5000), TextReader::Line::end);
        ASSERT_TRUE(r.rewind());
    }
    write_bytes(dir / "in.txt", three_lines + "more\n");
    EXPECT_EQ(r.read_line(line, 5000), TextReader::Line::changed);
}

}  // namespace
}  // namespace ktnet
