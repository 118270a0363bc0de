// ktnet's check, export and import, run in-process on files.
#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <tuple>

#include "formats/plu_csv.hpp"
#include "ktnet/check.hpp"
#include "ktnet/export.hpp"
#include "ktnet/import.hpp"
#include "plu/plu_line.hpp"
#include "shop/price_list.hpp"
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
    const Outcome imported = run(
        import_file, ImportOptions{.input = (dir / "edit.csv").string(),
                                   .output = (dir / "out.txt").string(),
                                   .scale = c.scale,
                                   .csv = {.code_page = c.code_page, .separator = c.separator}});
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
    for (std::size_t k = 2; k < plu_fields.size(); ++k) (csv += ";") += column_name(k);
    csv += "\n12;\"\xC5\x81OSO\xC5\x9A; w\xC4\x99\x64zony\";7082";  // "ŁOSOŚ; wędzony"
    for (std::size_t k = 3; k < plu_fields.size(); ++k) csv += ";0";
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

// A valid CSV of one whole record, with one cell replaced (or one column renamed).
std::string csv_with(const std::string& column, const std::string& value, bool header = false) {
    std::string head, row;
    for (std::size_t k = 0; k < plu_fields.size(); ++k) {
        const std::string name = column_name(k);
        const std::string cell = name == "plu" ? "1" : name == "name" ? "BREAD" : "0";
        head += (head.empty() ? "" : ";") + (header && name == column ? value : name);
        row += (row.empty() ? "" : ";") + (!header && name == column ? value : cell);
    }
    return head + "\r\n" + row + "\r\n";
}

// The base of the merging cases: PLU 1 "BREAD" at 4,50 in unit 1, PLU 2 "ROLL" at 0,90 in unit
// 1, PLU 3 an empty PLU.
std::string base_file() {
    std::string file;
    for (const auto& [plu, name, price] :
         {std::tuple{1, "BREAD", 0x0450}, {2, "ROLL", 0x0090}, {3, "", 0}}) {
        RecordFrame r{};
        r[record_plu_index] = static_cast<std::uint8_t>(plu);
        std::fill_n(r.begin() + name_frame_byte, name_length, ' ');
        std::copy_n(name, std::strlen(name), r.begin() + name_frame_byte);
        const std::size_t at = plu_fields[*FieldNames().find("c41_46")].frame_byte;
        r[at + 1] = static_cast<std::uint8_t>(price >> 8);
        r[at + 2] = static_cast<std::uint8_t>(price & 0xFF);
        if (plu != 3) r[plu_fields[*FieldNames().find("c84")].frame_byte] = 1;
        for (const std::uint8_t b : format_line(testing::address("1S1"), r)) {
            if (b == '\n') file += '\r';
            file += static_cast<char>(b);
        }
    }
    return file;
}

struct ImportCase {
    const char* what;
    std::string csv;
    bool onto = true;  // merged onto base_file()
    int status;
    // With status 0: columns 16-46 (name and price) of the first line; else what standard error
    // says after the CSV's name.
    std::string expected;
    CsvInputOptions csv_options{};
};

class ImportCases : public ::testing::TestWithParam<ImportCase> {};

TEST_P(ImportCases, GiveTheirRecordsOrNameRowAndColumnAndWriteNothing) {
    const ImportCase& c = GetParam();
    ScratchDir dir;
    write_bytes(dir / "in.csv", c.csv);
    write_bytes(dir / "base.txt", base_file());
    write_bytes(dir / "fields", "price = c41_46, 2 decimals\nunit = c84\n");
    write_bytes(dir / "out.txt", "last week's file");
    ImportOptions options{.input = (dir / "in.csv").string(),
                          .output = (dir / "out.txt").string(),
                          .onto = c.onto ? (dir / "base.txt").string() : std::string(),
                          .csv = c.csv_options};
    options.device.fields = (dir / "fields").string();
    const Outcome r = run(import_file, options);
    ASSERT_EQ(r.status, c.status) << r.err;
    if (c.status == 0) {
        EXPECT_EQ(read_bytes(dir / "out.txt").substr(16, 31), c.expected);
    } else {
        EXPECT_NE(r.err.find("in.csv: " + c.expected), std::string::npos) << r.err;
        EXPECT_EQ(read_bytes(dir / "out.txt"), "last week's file");
    }
}

const std::string bread = "BREAD                   ";

INSTANTIATE_TEST_SUITE_P(
    Ktnet, ImportCases,
    ::testing::Values(
        // A price list merged onto the base, as a point-of-sale system or a spreadsheet saves it.
        ImportCase{"partial", "plu;price\n1;4,99\n", true, 0, bread + " 000499"},
        ImportCase{"comma separated", "plu,price\r\n1,\"4,99\"\r\n", true, 0, bread + " 000499"},
        ImportCase{"byte order mark and tabs", "\xEF\xBB\xBFplu\tprice\n1\t4.99\n", true, 0,
                   bread + " 000499"},
        ImportCase{"a whole number", "plu;price\n1;129\n", true, 0, bread + " 012900"},
        ImportCase{"Windows-1250", "plu;name\n1;\xA3OSO\x8C\n", true, 0,
                   "\xA3OSO\x8C                    000450"},
        ImportCase{"Windows-1250 given",
                   "plu;name\n1;\xA3OSO\x8C\n",
                   true,
                   0,
                   "\xA3OSO\x8C                    000450",
                   {.csv_code_page = "1250"}},
        ImportCase{"a name of an empty PLU", "plu;name;price\n3;NEW;1\n", true, 0,
                   "NEW                      000100"},
        ImportCase{"whole, without a base", csv_with("c41_46", "70,82"), false, 0,
                   bread + " 007082"},
        // What does not fit, named by the field's name and columns.
        ImportCase{"too many digits", "plu;price\n1;12999,99\n", true, 1,
                   "row 2, column B (price (c41_46)): price 12999,99 needs 7 digits, the field "
                   "holds 6"},
        ImportCase{"too many decimals", "plu;price\n1;4,999\n", true, 1,
                   "row 2, column B (price (c41_46)): price 4,999 has 3 decimals"},
        ImportCase{"Digit over a byte", "plu;unit\n1;256\n", true, 1,
                   "row 2, column B (unit (c84)): unit 256 is more than the field holds (255)"},
        ImportCase{"Digit written as a LF", csv_with("c139", "218"), false, 1,
                   "row 2, column W (c139): 218 cannot be kept in a PLU file"},
        ImportCase{"BCD with a letter", csv_with("c121_134", "12a"), false, 1,
                   "row 2, column U (c121_134): c121_134 12a is not a number"},
        ImportCase{"PLU above 65535", csv_with("plu", "65536"), false, 1,
                   "row 2, column A (plu): 65536 is not a PLU number from 0 to 65535"},
        ImportCase{"empty value", "plu;price\n1;\n", true, 1,
                   "row 2, column B (price (c41_46)): the value is missing"},
        ImportCase{"character outside the code page", "plu;name\n1;\xE6\x97\xA5\n", true, 1,
                   "row 2, column B (name): '\xE6\x97\xA5' cannot be written in Windows-1250"},
        ImportCase{"name over 24 bytes", "plu;name\n1;" + std::string(25, 'N') + "\n", true, 1,
                   "row 2, column B (name): the name takes 25 bytes"},
        ImportCase{"name with a LF", "plu;name\n1;A\\x0AB\n", true, 1,
                   "row 2, column B (name): a name cannot hold a line feed"},
        // Headers.
        ImportCase{"unknown column", "plu;prize\n1;1\n", true, 1,
                   "row 1, column B (prize): unknown column (did you mean price?): the columns "
                   "are price, unit, plu, name, c41_46"},
        ImportCase{"repeated column", "plu;price;c41_46\n1;1;1\n", true, 1,
                   "row 1, column C (price (c41_46)): the column is repeated"},
        ImportCase{"plu alone", "plu\n1\n", true, 1, "row 1: only plu is given"},
        ImportCase{"no plu", "price\n1\n", true, 1, "row 1: the column plu is missing"},
        ImportCase{"a separator given wrongly",
                   "plu;price\n1;1\n",
                   true,
                   1,
                   "row 1: the header is one column: is the CSV separated by another character "
                   "than ','",
                   {.separator = ","}},
        ImportCase{"empty file", "", true, 1, "row 1: there is no header row"},
        // Rows a merge must never take: they would blank or invent an article.
        ImportCase{"PLU the base lacks", "plu;price\n9;1\n", true, 1, "row 2: PLU 9 is not in"},
        ImportCase{"partial without a base", "plu;price\n1;1\n", false, 1,
                   "row 1: the CSV does not give every field"},
        ImportCase{"a name emptied", "plu;name\n1;\n", true, 1,
                   "row 2: the row empties the name of PLU 1"},
        ImportCase{"settings for an empty PLU", "plu;price\n3;1\n", true, 1,
                   "row 2: PLU 3 is empty in"},
        ImportCase{"every setting zeroed", "plu;price;unit\n1;0;0\n", true, 1,
                   "row 2: the row sets every setting of PLU 1 to zero"},
        ImportCase{"whole row with a blank name",
                   [] {
                       std::string csv = csv_with("c41_46", "1");
                       return csv.replace(csv.find("BREAD"), 5, "");
                   }(),
                   false, 1, "row 2: the name is blank, and the settings are not all zero"},
        ImportCase{"duplicate PLU", "plu;price\n1;1\n1;2\n", true, 1,
                   "row 3, column A (plu): PLU 1 is on row 2 as well"},
        ImportCase{"value in an unnamed column", "plu;price;\n1;1;x\n", true, 1,
                   "row 2, column C: a value in a column without a name"},
        ImportCase{"quote never closed", "plu;name\n1;\"BREAD\n", true, 1,
                   "row 2, column B: a quoted value is never closed"}),
    [](const auto& p) { return testing::test_name(p.param.what); });

// Whatever a price list gives, the merge changes exactly its fields: every other byte of the
// record (6 to 74, byte 36 included) is the base's.
TEST(Ktnet, AMergeChangesExactlyTheFieldsTheListGives) {
    std::mt19937 rng(5);
    const FieldNames names;
    for (int round = 0; round < 200; ++round) {
        sim::RecordBody body = testing::random_record(rng, 1);
        RecordFrame base{};
        std::copy(body.begin(), body.end(), base.begin() + sim::record_body_offset);
        std::fill_n(base.begin() + name_frame_byte, 3, 'A');  // a named article
        RowPatch row{2, 1, {}, false};
        for (std::size_t k = 2; k < plu_fields.size(); ++k) {
            if (rng() % 3 != 0) continue;
            RowPatch::Value v{k, {}};
            for (std::size_t i = 0; i < plu_fields[k].bytes; ++i)
                v.bytes[i] = static_cast<std::uint8_t>(1 + rng() % 9);  // never all zero
            row.values.push_back(v);
        }
        MergeBase on{"base", {{1, stored_of(base)}}};
        const auto merged = merge_row(row, &on, names);
        ASSERT_TRUE(merged) << merged.error();
        std::vector<bool> given(record_frame_length, false);
        for (const RowPatch::Value& v : row.values) {
            const PluField& f = plu_fields[v.field];
            for (std::size_t i = 0; i < f.bytes; ++i) {
                given[f.frame_byte + i] = true;
                EXPECT_EQ((*merged)[f.frame_byte + i], v.bytes[i]);
            }
        }
        for (std::size_t i = payload_index; i < record_checksum_index; ++i) {
            if (!given[i]) {
                EXPECT_EQ((*merged)[i], base[i]) << "byte " << i;
            }
        }
    }
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
