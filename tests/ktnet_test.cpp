// ktnet's check, export and import, run in-process on files.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "formats/plu_csv.hpp"
#include "ktnet/check.hpp"
#include "ktnet/export.hpp"
#include "ktnet/import.hpp"
#include "plu/plu_line.hpp"
#include "test_support.hpp"

namespace ktnet {
namespace {

using testing::read_bytes;
using testing::ScratchDir;
using testing::write_bytes;

struct Outcome {
    int status;
    std::string out, err;
};

template <typename Options, typename F>
Outcome run(F command, const Options& options) {
    std::ostringstream out, err;
    RunOutput output(out, err, "ktnet");
    const int status = output.finish(command(options, output));
    return {status, out.str(), err.str()};
}

// export of a file, and import, which need no controller.
int export_file(const ExportOptions& options, RunOutput& output) {
    ShopEnvironment env;
    return run_export(options, env, output);
}
int import_file(const ImportOptions& options, RunOutput& output) {
    ShopEnvironment env;
    return run_import(options, env, output);
}

// A file as the reader writes it for these records: each line's LF stored as CR LF.
std::string reader_file(const std::vector<sim::RecordBody>& records, const char* scale) {
    std::string file;
    for (const auto& body : records) {
        std::array<std::uint8_t, record_frame_length> frame{};
        std::copy(body.begin(), body.end(), frame.begin() + sim::record_body_offset);
        for (const std::uint8_t b : format_line(testing::address(scale), frame)) {
            if (b == '\n') file += '\r';
            file += static_cast<char>(b);
        }
    }
    return file;
}

// Records whose names and setting bytes take every byte value (the first 256 sweep them), then
// random ones; but for the bytes no PLU file can hold, which make_transferable changes.
std::vector<sim::RecordBody> every_byte_records(std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<sim::RecordBody> records;
    for (std::uint32_t i = 0; i < 400; ++i) {
        sim::RecordBody body = testing::random_record(rng, i + 1);
        if (i < 256) {
            for (std::size_t k = 3; k < body.size(); ++k)
                body[k] = static_cast<std::uint8_t>(i + (k < 27 ? k : 0));
        }
        testing::make_transferable(body);
        records.push_back(body);
    }
    return records;
}

struct RoundTripCase {
    const char* code_page;
    const char* separator;
    const char* scale;
};

class ExportImport : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(ExportImport, GivesBackEveryReaderFileByteForByte) {
    const auto& c = GetParam();
    ScratchDir dir;
    const std::string original = reader_file(every_byte_records(11), c.scale);
    write_bytes(dir / "in.txt", original);
    const Outcome exported =
        run(export_file, ExportOptions{(dir / "in.txt").string(), (dir / "edit.csv").string(),
                                       c.code_page, c.separator});
    ASSERT_EQ(exported.status, 0) << exported.err;
    const Outcome imported =
        run(import_file, ImportOptions{(dir / "edit.csv").string(), (dir / "out.txt").string(),
                                       c.scale, false, c.code_page, c.separator});
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_TRUE(read_bytes(dir / "out.txt") == original);
}

INSTANTIATE_TEST_SUITE_P(Ktnet, ExportImport,
                         ::testing::Values(RoundTripCase{"1250", ";", "1S1"},
                                           RoundTripCase{"cp852", ",", "4T9"},
                                           RoundTripCase{"windows-1252", "tab", "2S3"}));

// What a spreadsheet does to a row: leading zeros dropped, a name changed, quoting as it likes.
TEST(Ktnet, SpreadsheetEditComesBackAsTheReadersLine) {
    ScratchDir dir;
    std::string csv = "plu;name";
    for (std::size_t k = 2; k < csv_column_names().size(); ++k) csv += ";" + csv_column_names()[k];
    csv += "\n12;\"\xC5\x81OSO\xC5\x9A; w\xC4\x99\x64zony\";7082";  // "ŁOSOŚ; wędzony"
    for (std::size_t k = 3; k < csv_column_names().size(); ++k) csv += ";0";
    write_bytes(dir / "in.csv", csv + "\n");
    const Outcome r = run(import_file, ImportOptions{.input = (dir / "in.csv").string(),
                                                     .output = (dir / "out.txt").string(),
                                                     .scale = "2T3"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string name =
        "\xA3OSO\x8C; w\xEA"
        "dzony";  // in Windows-1250
    name.resize(24, ' ');
    EXPECT_EQ(read_bytes(dir / "out.txt"),
              "2 T 03 xx000012 " + name +
                  " 007082 x 000000 000000 000000 000000 00 00 0 0 00 0 0 00 00 000000 000000 00 "
                  "00 00000000000000 00 0\r\r\n");
}

// A valid CSV of one record, with one cell replaced (or, for a header name, one column renamed).
std::string csv_with(const std::string& column, const std::string& value, bool header = false) {
    std::string head, row;
    for (const std::string& name : csv_column_names()) {
        const std::string cell = name == "plu" ? "1" : name == "name" ? "BREAD" : "0";
        head += (head.empty() ? "" : ";") + (header && name == column ? value : name);
        row += (row.empty() ? "" : ";") + (!header && name == column ? value : cell);
    }
    return head + "\r\n" + row + "\r\n";
}

struct RefusalCase {
    const char* what;
    std::string csv;
    const char* message;  // the place and reason, as printed after the file name
};

class ImportRefusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(ImportRefusals, NameRowAndColumnAndWriteNothing) {
    ScratchDir dir;
    write_bytes(dir / "in.csv", GetParam().csv);
    write_bytes(dir / "out.txt", "last week's file");
    const Outcome r = run(import_file, ImportOptions{.input = (dir / "in.csv").string(),
                                                     .output = (dir / "out.txt").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(std::string("in.csv: ") + GetParam().message), std::string::npos) << r.err;
    EXPECT_EQ(read_bytes(dir / "out.txt"), "last week's file");
}

INSTANTIATE_TEST_SUITE_P(
    Ktnet, ImportRefusals,
    ::testing::Values(
        RefusalCase{"BCD with a letter", csv_with("c41_46", "12a"),
                    "row 2, column C (c41_46): \"12a\" does not fit"},
        RefusalCase{"BCD too long", csv_with("c121_134", "123456789012345"),
                    "row 2, column U (c121_134): \"123456789012345\" does not fit"},
        RefusalCase{"Digit over a byte", csv_with("c84", "256"),
                    "row 2, column J (c84): \"256\" is not a whole number from 0 to 255"},
        RefusalCase{"Digit written as a LF", csv_with("c139", "218"),
                    "row 2, column W (c139): 218 cannot be kept in a PLU file"},
        RefusalCase{"Decimal negative", csv_with("c95_96", "-1"),
                    "row 2, column O (c95_96): \"-1\" is not a whole number"},
        RefusalCase{"empty value", csv_with("c86", ""),
                    "row 2, column K (c86): the value is missing"},
        RefusalCase{"PLU over six digits", csv_with("plu", "1000000"),
                    "row 2, column A (plu): \"1000000\" is not a PLU number"},
        RefusalCase{"character outside the code page", csv_with("name", "\xE6\x97\xA5"),
                    "row 2, column B (name): '\xE6\x97\xA5' cannot be written in Windows-1250"},
        RefusalCase{"name over 24 bytes", csv_with("name", std::string(25, 'N')),
                    "row 2, column B (name): the name takes 25 bytes"},
        RefusalCase{"name with a LF", csv_with("name", "A\\x0AB"),
                    "row 2, column B (name): a name cannot hold a line feed"},
        RefusalCase{"name with a malformed escape", csv_with("name", "A\\qB"),
                    "row 2, column B (name): a backslash must begin"},
        RefusalCase{"name not UTF-8", csv_with("name", "\xFF"),
                    "row 2, column B (name): the text is not UTF-8"},
        RefusalCase{"missing column", csv_with("c84", "", true),
                    "row 1, column c84: the column is missing (--fill-zero"},
        RefusalCase{"unknown column", csv_with("c84", "c85", true),
                    "row 1, column J (c85): unknown column"},
        RefusalCase{"repeated column", csv_with("c84", "c86", true),
                    "row 1, column K (c86): the column is repeated"},
        RefusalCase{
            "duplicate PLU",
            csv_with("c84", "1") + csv_with("c84", "2").substr(csv_with("", "").find('\n') + 1),
            "row 3, column A (plu): PLU 1 is on row 2 as well"},
        RefusalCase{"value in an unnamed column",
                    csv_with("c84", "0").insert(csv_with("c84", "0").size() - 2, ";x"),
                    "row 2, column X: a value in a column without a name"},
        RefusalCase{"quote never closed", csv_with("name", "\"BREAD"),
                    "row 2, column B: a quoted value is never closed"},
        RefusalCase{"text after a closing quote", csv_with("name", "\"BREAD\"x"),
                    "row 2, column B: a closing quote must be followed"}),
    [](const auto& p) { return testing::test_name(p.param.what); });

TEST(Ktnet, FillZeroTakesMissingSettingColumnsAsZero) {
    ScratchDir dir;
    write_bytes(dir / "in.csv", "plu;name;c41_46\n7;A;123\n");
    const Outcome r = run(import_file, ImportOptions{.input = (dir / "in.csv").string(),
                                                     .output = (dir / "out.txt").string(),
                                                     .fill_zero = true});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_bytes(dir / "out.txt").substr(0, 59),
              "1 S 01 xx000007 A" + std::string(24, ' ') + "000123 x 000000 00");
}

struct StatusCase {
    const char* what;
    std::string file;  // in.txt's bytes; nothing written when empty
    ExportOptions options;
    int status;
    const char* message;  // on standard error
};

class ExportStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(ExportStatus, RefusesWithAReason) {
    ScratchDir dir;
    const auto& c = GetParam();
    if (!c.file.empty()) write_bytes(dir / "in.txt", c.file);
    ExportOptions options = c.options;
    if (options.source == "in.txt") options.source = (dir / "in.txt").string();
    const Outcome r = run(export_file, options);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

const std::string good_line = "1 S 01 xx000001 A" + std::string(123, '0') + "\r\n";

INSTANTIATE_TEST_SUITE_P(
    Ktnet, ExportStatus,
    ::testing::Values(StatusCase{"missing file", "", {.source = "in.txt"}, 2, "cannot read"},
                      StatusCase{"line breaking the rule",
                                 good_line + "1 S 01 xx00000Z\r\n",
                                 {.source = "in.txt"},
                                 1,
                                 "in.txt:2: column 14 holds 'Z' where a digit belongs"},
                      StatusCase{"Decimal over a byte",
                                 "1 S 01 xx000001 A" + std::string(78, '0') + "I9\r\n",
                                 {.source = "in.txt"},
                                 1,
                                 "in.txt:1: columns 95-96 hold \"I9\", 259"},
                      StatusCase{"separator of two characters",
                                 good_line,
                                 {.source = "in.txt", .separator = ";;"},
                                 2,
                                 "--sep"},
                      StatusCase{"code page with no such name",
                                 good_line,
                                 {.source = "in.txt", .code_page = "utf8"},
                                 2,
                                 "--codepage"},
                      StatusCase{"multi-byte code page",
                                 good_line,
                                 {.source = "in.txt", .code_page = "936"},
                                 2,
                                 "not a single-byte code page"}),
    [](const auto& p) { return testing::test_name(p.param.what); });

TEST(Ktnet, CheckReportsAsJsonWithTheStatusOfTheWorstFile) {
    ScratchDir dir;
    write_bytes(dir / "good.txt", good_line);
    write_bytes(dir / "bad.txt", good_line + good_line);
    const std::string good = (dir / "good.txt").string(), bad = (dir / "bad.txt").string();
    EXPECT_EQ(run(run_check, CheckOptions{.files = {good}}).status, 0);
    const Outcome problems = run(run_check, CheckOptions{.files = {good, bad}});
    EXPECT_EQ(problems.status, 1);
    EXPECT_NE(problems.out.find(bad + ":2: PLU 000001 is on line 1 as well"), std::string::npos);

    const Outcome json = run(run_check, CheckOptions{{bad, (dir / "missing.txt").string()}, true});
    EXPECT_EQ(json.status, 2);
    const auto report = nlohmann::json::parse(json.out);
    EXPECT_EQ(report["status"], 2);
    EXPECT_EQ(report["files"][0]["findings"][0]["kind"], "duplicate_plu");
    EXPECT_EQ(report["files"][0]["findings"][0]["line"], 2);
    EXPECT_TRUE(report["files"][1].contains("error"));
}

}  // namespace
}  // namespace ktnet
