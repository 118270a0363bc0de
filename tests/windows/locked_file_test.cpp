// Locked files on Windows: binary bytes, exclusive sharing in both directions, output
// emptied only once held or on request, input never created, only files and devices opened,
// the result file never through a link, and every refusal with its reason.
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
        auto file = LockedFile::open_for_writing(path, LockedFile::Contents::emptied);
        checks.expect(file.has_value(), "a missing output file is created");
        if (!file) return;
        checks.expect(file->write(as_bytes(bytes)).has_value(), "write reports success");
    }
    checks.expect(read_bytes(path) == bytes, "the file layer stores bytes unchanged");

    auto file = LockedFile::open_for_reading(path);
    checks.expect(file.has_value(), "an existing file opens for reading");
    if (!file) return;
    std::vector<std::uint8_t> buffer(64);
    auto n = file->read(buffer);
    checks.expect(
        n && *n == bytes.size() &&
            std::equal(bytes.begin(), bytes.end(), buffer.begin(),
                       [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }),
        "reading gives the bytes unchanged");
    auto end = file->read(buffer);
    checks.expect(end && *end == 0, "then the end of the file");
    const auto refused = file->write(as_bytes(std::string("x")));
    checks.expect(!refused && refused.error().code == ERROR_ACCESS_DENIED,
                  "a file held for reading refuses writes, with the system's reason");
}

void text_layout(Checks& checks, const ScratchDir& dir) {
    const fs::path path = dir / "text.txt";
    {
        auto file = LockedFile::open_for_writing(path, LockedFile::Contents::emptied);
        if (!file) return checks.expect(false, "text file opens");
        TextWriter writer(std::move(*file));
        checks.expect(writer.write(as_bytes(std::string("line\none\rtwo\n"))).has_value(),
                      "text written");
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
    for (const bool emptying : {false, true}) {
        {
            auto kept = LockedFile::open_for_writing(existing, LockedFile::Contents::kept);
            if (!kept) return checks.expect(false, "an output file opens with its contents kept");
            if (emptying) {
                checks.expect(kept->empty().has_value() && fs::file_size(existing) == 0,
                              "emptied on request");
            }
            checks.expect(kept->write(as_bytes(std::string("more"))).has_value(), "written");
        }
        checks.expect(
            read_bytes(existing) == (emptying ? "more" : "old content\r\nmore"),
            emptying ? "written from the start once emptied" : "written after the kept contents");
    }
    checks.expect(LockedFile::open_for_writing(existing, LockedFile::Contents::emptied).has_value(),
                  "an output file opens emptied");
    checks.expect(fs::exists(existing) && fs::file_size(existing) == 0, "and is emptied");

    const fs::path missing = dir / "missing.txt";
    const auto absent = LockedFile::open_for_reading(missing);
    checks.expect(!absent && absent.error().kind == FileError::Kind::missing,
                  "a missing input does not open, and says so");
    checks.expect(!fs::exists(missing), "and is not created");

    const fs::path folder = dir / "folder";
    fs::create_directory(folder);
    for (const auto& refused : {LockedFile::open_for_writing(folder, LockedFile::Contents::kept),
                                LockedFile::open_for_reading(folder),
                                LockedFile::open_result_file(folder, LockedFile::Contents::kept)}) {
        checks.expect(!refused && refused.error().kind == FileError::Kind::not_a_file,
                      "a folder is no file");
    }
    checks.expect(LockedFile::open_for_writing("NUL", LockedFile::Contents::emptied).has_value(),
                  "the null device takes output");
    checks.expect(!LockedFile::open_result_file("NUL", LockedFile::Contents::kept).has_value(),
                  "but is no result file");
}

// A named pipe would hold the run in a wait for its peer; it is refused at once.
void pipes(Checks& checks) {
    const wchar_t* name = L"\\\\.\\pipe\\ktnet-locked-file-test";
    HANDLE server =
        ::CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 512, 512, 0, nullptr);
    if (server == INVALID_HANDLE_VALUE) return checks.expect(false, "a named pipe is made");
    const auto refused = LockedFile::open_for_reading(name);
    checks.expect(!refused && refused.error().kind == FileError::Kind::not_a_file,
                  "a named pipe is no input file");
    ::CloseHandle(server);
}

// The result file's name is never followed: a link planted under it leaves its target alone.
void result_file_link(Checks& checks, const ScratchDir& dir) {
    const fs::path target = dir / "target.txt", link = dir / "wynik.txt";
    write_bytes(target, "someone else's file");
    // Making a link needs a privilege on Windows, and Wine makes none that it then shows as one.
    const DWORD attributes = ::CreateSymbolicLinkW(link.c_str(), target.c_str(), 0)
                                 ? ::GetFileAttributesW(link.c_str())
                                 : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        std::printf("note: no symbolic link can be made here; the link checks are skipped\n");
        return;
    }
    const auto refused = LockedFile::open_result_file(link, LockedFile::Contents::emptied);
    checks.expect(!refused && refused.error().kind == FileError::Kind::symbolic_link,
                  "a link as the result file is refused");
    checks.expect(read_bytes(target) == "someone else's file", "and its target is untouched");
    checks.expect(LockedFile::open_for_writing(link, LockedFile::Contents::kept).has_value(),
                  "an output file the user named may be a link");
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
            std::optional<FileResult<LockedFile>> ours;
            std::optional<ForeignHandle> theirs;
            switch (c.holder) {
                case Holder::our_reader:
                    ours.emplace(LockedFile::open_for_reading(path));
                    break;
                case Holder::our_writer:
                    ours.emplace(LockedFile::open_for_writing(path, LockedFile::Contents::emptied));
                    if (*ours) (void)(*ours)->write(as_bytes(std::string("keep\r\n")));
                    break;
                case Holder::viewer_sharing_all:
                    theirs.emplace(path, GENERIC_READ, share_all);
                    break;
                case Holder::viewer_sharing_read:
                    theirs.emplace(path, GENERIC_READ, FILE_SHARE_READ);
                    break;
            }
            checks.expect((ours && *ours) || (theirs && theirs->opened()), "the holder opens",
                          c.name);
            const auto output = LockedFile::open_for_writing(path, LockedFile::Contents::emptied);
            checks.expect(!output && output.error().kind == FileError::Kind::held,
                          "no output open, held", c.name);
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
        auto opened = LockedFile::open_for_writing(path, LockedFile::Contents::emptied);
        if (!opened) return checks.expect(false, "file for moving opens");
        LockedFile first = std::move(*opened);
        LockedFile second = std::move(first);
        checks.expect(second.write(as_bytes(std::string("moved"))).has_value(),
                      "the moved-to file writes");
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
    pipes(checks);
    result_file_link(checks, dir);
    sharing(checks, dir);
    moving(checks, dir);
}

}  // namespace ktnet::wintest
