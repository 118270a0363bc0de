#include "cli/text_file.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "test_support.hpp"

namespace ktnet {
namespace {

using testing::read_bytes;
using testing::ScratchDir;
using testing::write_bytes;

std::span<const std::uint8_t> bytes_of(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(TextWriter, StoresEachLfAsCrLfAndEveryOtherByteUnchanged) {
    ScratchDir dir;
    {
        auto file = LockedFile::open_for_writing(dir / "out.txt");
        ASSERT_TRUE(file);
        TextWriter w(std::move(*file));
        ASSERT_TRUE(w.write(bytes_of("ab\r\n")));
        ASSERT_TRUE(w.write(bytes_of(std::string_view("\x1A\0\r\n\n", 5))));
    }
    EXPECT_EQ(read_bytes(dir / "out.txt"), std::string_view("ab\r\r\n\x1A\0\r\r\n\r\n", 12));
}

TEST(TextWriter, OpeningEmptiesAnExistingFile) {
    ScratchDir dir;
    write_bytes(dir / "out.txt", "old contents");
    {
        auto file = LockedFile::open_for_writing(dir / "out.txt");
        ASSERT_TRUE(file);
    }
    EXPECT_EQ(read_bytes(dir / "out.txt"), "");
}

TEST(LockedFile, HeldFileCannotBeOpenedAndIsNotEmptied) {
    ScratchDir dir;
    write_bytes(dir / "held.txt", "keep me");
    auto holder = LockedFile::open_for_reading(dir / "held.txt");
    ASSERT_TRUE(holder);
    EXPECT_FALSE(LockedFile::open_for_writing(dir / "held.txt"));
    EXPECT_FALSE(LockedFile::open_for_reading(dir / "held.txt"));
    EXPECT_EQ(read_bytes(dir / "held.txt"), "keep me");
    holder.reset();
    EXPECT_TRUE(LockedFile::open_for_reading(dir / "held.txt"));
}

TEST(LockedFile, ReadingNeverCreatesAndDirectoriesAreRefused) {
    ScratchDir dir;
    EXPECT_FALSE(LockedFile::open_for_reading(dir / "missing.txt"));
    EXPECT_FALSE(std::filesystem::exists(dir / "missing.txt"));
    EXPECT_FALSE(LockedFile::open_for_reading(dir.path()));
    EXPECT_FALSE(LockedFile::open_for_writing(dir.path()));
}

TEST(LockedFile, FailedWriteLeavesNoPartialPiece) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    auto file = LockedFile::open_for_writing("/dev/full");
    ASSERT_TRUE(file);
    const std::string line(143, 'a');
    EXPECT_FALSE(file->write(bytes_of(line)));
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

}  // namespace
}  // namespace ktnet
