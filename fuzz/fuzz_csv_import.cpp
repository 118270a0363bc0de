// Any CSV text through ktnet import: it either refuses, with a message for each problem and no
// output file, or writes a PLU file every line of which passes the number-column rule and
// parses, as ldk needs, and which export and import again give back byte for byte.
// Input: byte 0 chooses the separator and whether the rows merge onto a base file of PLUs 1 to
// 3, the rest is the CSV file.
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "formats/plu_files.hpp"
#include "ktnet/export.hpp"
#include "ktnet/import.hpp"
#include "plu/line_check.hpp"
#include "plu/plu_line.hpp"
#include "scratch_dir.hpp"

using namespace ktnet;

namespace {

int import(const std::filesystem::path& in, const std::filesystem::path& out, char separator,
           const std::string& onto, std::string& err) {
    std::ostringstream out_stream, err_stream;
    ImportOptions options{
        .input = in.string(), .output = out.string(), .onto = onto, .scale = "3T4"};
    options.csv.separator = std::string(1, separator);
    ShopEnvironment env;
    RunOutput output(out_stream, err_stream, "ktnet import");
    const int status = run_import(options, env, output);
    err = err_stream.str();
    return status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return -1;
    const char separator = ";,\t|"[data[0] % 4];
    std::string onto;
    if ((data[0] & 0x80) != 0) {
        const auto base = fuzzing::scratch() / "base.txt";
        if (!std::filesystem::exists(base)) {
            std::vector<FormattedLine> lines;
            for (std::uint32_t plu = 1; plu <= 3; ++plu) {
                RecordFrame record{};
                record[record_plu_index] = static_cast<std::uint8_t>(plu);
                for (std::size_t i = 0; i < name_length; ++i) record[name_frame_byte + i] = 'A';
                record[45] = 0x12;
                lines.push_back(format_line(*ScaleAddress::make(3, 'T', 4), record));
            }
            if (!write_plu_file(base.string(), lines)) std::abort();
        }
        onto = base.string();
    }
    const auto csv = fuzzing::scratch() / "in.csv";
    const auto plu = fuzzing::scratch() / "out.txt";
    std::filesystem::remove(plu);
    fuzzing::write_file(csv, data + 1, size - 1);

    std::string err;
    const int status = import(csv, plu, separator, onto, err);
    if (status == 1) {
        // Refused: a message for each problem, and nothing written.
        if (err.find("in.csv: row ") == std::string::npos) std::abort();
        if (std::filesystem::exists(plu)) std::abort();
        return 0;
    }
    if (status != 0) std::abort();

    const auto lines = read_plu_lines(plu.string());
    if (!lines) std::abort();
    for (const std::string& line : *lines) {
        if (line.size() != line_columns + 1 || line.back() != '\r') std::abort();
        if (find_number_column_fault(line)) std::abort();
        RecordFrame record{};
        if (!parse_line(line, record)) std::abort();
    }

    // The file goes round unchanged.
    std::ostringstream out_stream, err_stream;
    const auto again = fuzzing::scratch() / "again.csv";
    const auto back = fuzzing::scratch() / "back.txt";
    ExportOptions options{.source = plu.string(), .output = again.string()};
    options.separator = std::string(1, separator);
    ShopEnvironment env;
    RunOutput output(out_stream, err_stream, "ktnet export");
    if (run_export(options, env, output) != 0) std::abort();
    if (import(again, back, separator, "", err) != 0) std::abort();
    if (fuzzing::file_bytes(back) != fuzzing::file_bytes(plu)) std::abort();
    return 0;
}
