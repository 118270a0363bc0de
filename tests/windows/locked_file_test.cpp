// Locked files on Windows: binary bytes, exclusive sharing in both directions, output
// emptied only once held, input never created.
#include "cli/locked_file.hpp"

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "checks.hpp"
#include "cli/text_file.hpp"

namespace ktnet::wintest {
namespace {

namespace fs = std::filesystem;

// A fresh folder in the temporary folder, removed at the end.
class ScratchDir {
public:
    ScratchDir()
        : path_(fs::temp_directory_path() /
                ("ktnet-windows-tests-" + std::to_string(::GetCurrentProcessId()))) {
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    fs::path operator/(const char* name) const { return path_ / name; }

private:
    fs::path path_;
};

std::string read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_bytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::span<const std::uint8_t> as_bytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// A handle of another program, closed when dropped.
class ForeignHandle {
public:
    ForeignHandle(const fs::path& path, DWORD access, DWORD share)
        : handle_(::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~ForeignHandle() {
        if (opened()) ::CloseHandle(handle_);
    }
    ForeignHandle(const ForeignHandle&) = delete;
    ForeignHandle& operator=(const ForeignHandle&) = delete;
    bool opened() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

void binary_bytes(Checks& checks, const ScratchDir& dir) {
    const fs::path path = dir / "bytes.txt";
    const std::string bytes = std::string("a\nb\r\nc\rd\x1A") + '\0' + "\xB3\xFF end";
    {
        auto file = LockedFile::open_for_writing(path);
        checks.expect(file.has_value(), "a missing output file is created");
        if (!file) return;
        checks.expect(file->write(as_bytes(bytes)), "write reports success");
    }
    checks.expect(read_bytes(path) == bytes, "the file layer stores bytes unchanged");

    auto file = LockedFile::open_for_reading(path);
    checks.expect(file.has_value(), "an existing file opens for reading");
    if (!file) return;
    std::vector<std::uint8_t> buffer(64);
    const std::ptrdiff_t n = file->read(buffer);
    checks.expect(
        n == static_cast<std::ptrdiff_t>(bytes.size()) &&
            std::equal(bytes.begin(), bytes.end(), buffer.begin(),
                       [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }),
        "reading gives the bytes unchanged");
    checks.expect(file->read(buffer) == 0, "then the end of the file");
    checks.expect(!file->write(as_bytes(std::string("x"))),
                  "a file held for reading refuses writes");
}

void text_layout(Checks& checks, const ScratchDir& dir) {
    const fs::path path = dir / "text.txt";
    {
        auto file = LockedFile::open_for_writing(path);
        if (!file) return checks.expect(false, "text file opens");
        TextWriter writer(std::move(*file));
        checks.expect(writer.write(as_bytes(std::string("line\none\rtwo\n"))), "text written");
    }
    checks.expect(read_bytes(path) == "line\r\none\rtwo\r\n", "LF becomes CR LF, a lone CR stays");

    write_bytes(path, "first\r\nsecond\rx\nthird\x1Ahidden\r\n");
    auto file = LockedFile::open_for_reading(path);
    if (!file) return checks.expect(false, "text file reopens");
    TextReader reader(std::move(*file));
    std::string line;
    std::vector<std::string> lines;
    while (reader.read_line(line, 140) == TextReader::Line::read) lines.push_back(line);
    checks.expect(lines == std::vector<std::string>{"first", "second\rx", "third"},
                  "CR LF read as LF, lone CR kept, 0x1A ends the file");
}

void opening(Checks& checks, const ScratchDir& dir) {
    const fs::path existing = dir / "existing.txt";
    write_bytes(existing, "old content\r\n");
    checks.expect(LockedFile::open_for_writing(existing).has_value(), "an output file opens");
    checks.expect(fs::exists(existing) && fs::file_size(existing) == 0, "and is emptied");

    const fs::path missing = dir / "missing.txt";
    checks.expect(!LockedFile::open_for_reading(missing).has_value(),
                  "a missing input does not open");
    checks.expect(!fs::exists(missing), "and is not created");

    const fs::path folder = dir / "folder";
    fs::create_directory(folder);
    checks.expect(!LockedFile::open_for_writing(folder).has_value(), "a folder is no output file");
    checks.expect(!LockedFile::open_for_reading(folder).has_value(), "a folder is no input file");
}

// Who holds the file first.
enum class Holder { our_reader, our_writer, viewer_sharing_all, viewer_sharing_read };

struct SharingCase {
    const char* name;
    Holder holder;
};

void sharing(Checks& checks, const ScratchDir& dir) {
    const SharingCase cases[] = {
        {"held by our reader", Holder::our_reader},
        {"held by our writer", Holder::our_writer},
        {"held by another program that shares everything", Holder::viewer_sharing_all},
        {"held by another program that shares reading", Holder::viewer_sharing_read},
    };
    constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const fs::path path = dir / "held.txt";
    for (const SharingCase& c : cases) {
        write_bytes(path, "keep\r\n");
        {
            std::optional<LockedFile> ours;
            std::optional<ForeignHandle> theirs;
            switch (c.holder) {
                case Holder::our_reader:
                    ours = LockedFile::open_for_reading(path);
                    break;
                case Holder::our_writer:
                    ours = LockedFile::open_for_writing(path);
                    if (ours) ours->write(as_bytes(std::string("keep\r\n")));
                    break;
                case Holder::viewer_sharing_all:
                    theirs.emplace(path, GENERIC_READ, share_all);
                    break;
                case Holder::viewer_sharing_read:
                    theirs.emplace(path, GENERIC_READ, FILE_SHARE_READ);
                    break;
            }
            checks.expect(ours.has_value() || (theirs && theirs->opened()), "the holder opens",
                          c.name);
            checks.expect(!LockedFile::open_for_writing(path).has_value(), "no output open",
                          c.name);
            checks.expect(!LockedFile::open_for_reading(path).has_value(), "no input open", c.name);
            if (ours) {
                checks.expect(!ForeignHandle(path, GENERIC_READ, share_all).opened(),
                              "no other program can open it", c.name);
            }
        }
        checks.expect(read_bytes(path) == "keep\r\n", "the held file is left untouched", c.name);
        checks.expect(LockedFile::open_for_reading(path).has_value(), "free again once let go",
                      c.name);
    }
}

void moving(Checks& checks, const ScratchDir& dir) {
    const fs::path path = dir / "moved.txt";
    {
        auto opened = LockedFile::open_for_writing(path);
        if (!opened) return checks.expect(false, "file for moving opens");
        LockedFile first = std::move(*opened);
        LockedFile second = std::move(first);
        checks.expect(second.write(as_bytes(std::string("moved"))), "the moved-to file writes");
        checks.expect(!LockedFile::open_for_reading(path).has_value(),
                      "still held after the moves");
    }
    checks.expect(read_bytes(path) == "moved", "written through the moved handle");
    checks.expect(LockedFile::open_for_reading(path).has_value(), "released exactly once");
}

}  // namespace

void locked_file_tests(Checks& checks) {
    ScratchDir dir;
    binary_bytes(checks, dir);
    text_layout(checks, dir);
    opening(checks, dir);
    sharing(checks, dir);
    moving(checks, dir);
}

}  // namespace ktnet::wintest
