#include "export.hpp"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <memory>
#include <ostream>

#include "cli/replaced_file.hpp"
#include "display_text.hpp"
#include "link/scale_address.hpp"
#include "options_common.hpp"
#include "plu/plu_line.hpp"
#include "plu_csv.hpp"
#include "plu_files.hpp"
#include "progress.hpp"
#include "shop_file.hpp"

namespace ktnet {

namespace {

constexpr std::string_view command = "ktnet export";

// Where the rows go: standard output, or a file replaced whole once every row is in it.
class CsvSink {
public:
    CsvSink(std::ostream& out, std::optional<ReplacementFile> file)
        : out_(out), file_(std::move(file)) {}
    FileStatus write(const std::string& text) {
        if (!file_) {
            out_ << text;
            return {};
        }
        return file_->write({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    }
    FileStatus finish() {
        if (!file_) {
            out_ << std::flush;
            return {};
        }
        return file_->commit();
    }

private:
    std::ostream& out_;
    std::optional<ReplacementFile> file_;
};

// Lines that cannot be exported, the first few listed on err.
class Refusals {
public:
    Refusals(std::ostream& err, std::string source) : err_(err), source_(std::move(source)) {}
    void add(std::size_t line, const std::string& why) {
        if (++count_ <= max_listed)
            err_ << fmt::format("{}: {}:{}: {}\n", command, source_, line, printable(why));
    }
    std::size_t count() const { return count_; }
    int refuse() const {
        if (count_ > max_listed)
            err_ << fmt::format("{}: and {} more\n", command, count_ - max_listed);
        err_ << fmt::format(
            "{}: nothing written: {} line{} cannot be exported (ktnet check tells more)\n", command,
            count_, count_ == 1 ? "" : "s");
        return ktnet_status::problems;
    }

private:
    static constexpr std::size_t max_listed = 20;
    std::ostream& err_;
    std::string source_;
    std::size_t count_ = 0;
};

// A scale's records over a range, as the lines a file of them holds (140 columns and the CR).
int read_scale_lines(const ExportOptions& options, const ScaleAddress& scale,
                     const std::string& label, ShopEnvironment& env, std::ostream& err,
                     std::vector<std::string>& lines) {
    const auto range = parse_number_range(options.plu, 0, 10000);
    if (!range) {
        err << fmt::format("{}: --plu {}: not a rising range A-B of 0 to 10000\n", command,
                           options.plu);
        return ktnet_status::trouble;
    }
    int status = ktnet_status::success;
    auto connection = Connection::open(env, options.device, command, err, status);
    if (!connection) return status;
    Progress progress(err, env.error_is_terminal, std::string(command));
    const auto records =
        read_whole_scale(*connection, scale, label, plu_range(range->first, range->last), progress,
                         command, err, status);
    if (!records) return status;
    for (const RecordFrame& record : *records) {
        const FormattedLine line = format_line(scale, record);
        lines.emplace_back(line.begin(), line.end() - 1);  // as a file gives it: without the LF
    }
    return ktnet_status::success;
}

}  // namespace

int run_export(const ExportOptions& options, ShopEnvironment& env, std::ostream& out,
               std::ostream& err) {
    const auto fail = [&](const std::string& why) {
        err << command << ": " << printable(why) << '\n';
        return ktnet_status::trouble;
    };
    const auto settings = text_settings("export", options.code_page, options.separator, err);
    if (!settings) return ktnet_status::trouble;
    const ShopLoad shop = load_shop(options.device.shop);
    if (!shop.shop) return fail(shop.error);
    const std::string shown = printable(options.source);
    PluCsvExport csv(settings->code_page, settings->separator);
    Refusals refusals(err, shown);
    std::string rows;

    // A scale is read whole first; a file is read twice, held all along: once to see that every
    // line can be exported, then to write, so that its size never matters.
    std::vector<std::string> scale_lines;
    std::optional<TextReader> file;
    if (const auto scale = single_scale(options.source, *shop.shop)) {
        const int read =
            read_scale_lines(options, *scale, shop.shop->label(*scale), env, err, scale_lines);
        if (read != ktnet_status::success) return read;
    } else {
        if (!options.output.empty() && same_file(options.output, options.source))
            return fail(fmt::format("-o {} is the file exported: name another", options.output));
        auto opened = open_plu_file(options.source);
        if (!opened)
            return fail(fmt::format("cannot read {}: {}", options.source, opened.error().reason));
        file.emplace(std::move(*opened));
    }
    const auto each_line = [&](const std::function<bool(std::size_t, std::string_view)>& each)
        -> FileResult<std::size_t> {
        if (!file) {
            for (std::size_t i = 0; i < scale_lines.size(); ++i)
                if (!each(i + 1, scale_lines[i])) break;
            return scale_lines.size();
        }
        if (auto rewound = file->rewind(); !rewound) return rewound.error();
        auto read = read_plu_file(*file, each);
        if (!read) return read.error();
        if (read->not_plu_line) {
            return file_refused(FileError::Kind::not_a_file,
                                describe_not_plu_line(*read->not_plu_line));
        }
        return read->lines;
    };
    const auto checked = each_line([&](std::size_t n, std::string_view line) {
        rows.clear();
        if (auto problem = csv.append_row(line, rows)) refusals.add(n, *problem);
        return true;
    });
    if (!checked)
        return fail(fmt::format("cannot read {}: {}", options.source, checked.error().reason));
    if (refusals.count() > 0) return refusals.refuse();

    std::optional<ReplacementFile> replaced;
    if (!options.output.empty()) {
        auto begun = ReplacementFile::begin(options.output, ReplacementFile::Name::users);
        if (!begun)
            return fail(fmt::format("cannot write {}: {}", options.output, begun.error().reason));
        replaced.emplace(std::move(*begun));
    }
    CsvSink sink(out, std::move(replaced));
    FileStatus written = sink.write(csv.header());
    const auto wrote = each_line([&](std::size_t, std::string_view line) {
        rows.clear();
        (void)csv.append_row(line, rows);
        if (written) written = sink.write(rows);
        return static_cast<bool>(written);
    });
    if (!wrote)
        return fail(fmt::format("cannot read {}: {}", options.source, wrote.error().reason));
    if (written) written = sink.finish();
    if (!written)
        return fail(fmt::format("cannot write {}: {}", options.output, written.error().reason));
    if (!options.output.empty()) {
        out << fmt::format("{}: {} record{} exported to {}\n", shown, *wrote,
                           *wrote == 1 ? "" : "s", printable(options.output));
    }
    return ktnet_status::success;
}

void add_export(CLI::App& app, Command& chosen, ShopEnvironment& env) {
    auto options = std::make_shared<ExportOptions>();
    CLI::App* sub = app.add_subcommand(
        "export",
        "Write a PLU file or a scale as CSV, one row per record: columns plu, name, then one per "
        "setting field named after its line columns (c41_46 ...). Names are converted from the "
        "scales' code page to UTF-8.");
    sub->add_option("SOURCE", options->source,
                    "a PLU file, or a scale (1S1, or its name in the shop file; ./1S1 is a file)")
        ->required();
    sub->add_option("--plu", options->plu, "A-B: the PLUs read from a scale (default 1-10000)");
    sub->add_option("-o,--output", options->output, "the CSV file (default: standard output)");
    add_code_page_options(*sub, options->code_page, options->separator);
    add_device_options(*sub, options->device, false);
    sub->footer(
        "Exit status: 0 written, 1 lines that cannot be exported (nothing written), 2 a bad "
        "option, a file that cannot be read or written, or a scale that cannot be read, 5 the "
        "controller held by another run.");
    sub->callback([options, &chosen, &env] {
        chosen = [options, &env](std::ostream& out, std::ostream& err) {
            return run_export(*options, env, out, err);
        };
    });
}

}  // namespace ktnet
