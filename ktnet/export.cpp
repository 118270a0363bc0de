#include "export.hpp"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <memory>
#include <ostream>

#include "base/text.hpp"
#include "cli/exit_status.hpp"
#include "cli/replaced_file.hpp"
#include "formats/plu_csv.hpp"
#include "formats/plu_files.hpp"
#include "options_common.hpp"
#include "plu/plu_line.hpp"

namespace ktnet {

namespace {

constexpr std::size_t max_listed = 20;

// The lines of one source, handed out again as often as asked: a scale's lines held in memory,
// or a file held open and read from its start each time.
class LineSource {
public:
    explicit LineSource(std::vector<std::string> lines) : lines_(std::move(lines)) {}
    explicit LineSource(TextReader file) : file_(std::move(file)) {}

    // Every line to each, numbered from 1; the number of lines, or why they cannot be read.
    FileResult<std::size_t> each(const std::function<bool(std::size_t, std::string_view)>& each) {
        if (!file_) {
            for (std::size_t i = 0; i < lines_.size(); ++i)
                if (!each(i + 1, lines_[i])) break;
            return lines_.size();
        }
        if (auto rewound = file_->rewind(); !rewound) return rewound.error();
        auto read = read_plu_file(*file_, each);
        if (!read) return read.error();
        if (read->not_plu_line) {
            return file_refused(FileError::Kind::not_a_file,
                                describe_not_plu_line(*read->not_plu_line));
        }
        return read->lines;
    }

private:
    std::vector<std::string> lines_;
    std::optional<TextReader> file_;
};

// One source into one place: first every line checked, then written, so that nothing is
// written of a source with a line that cannot be exported, and a file's size never matters.
int export_source(LineSource& source, const std::string& shown, const std::string& target,
                  const TextSettings& settings, const FieldNames& names, RunOutput& output) {
    PluCsvExport csv(settings.code_page, settings.separator, names);
    std::string rows;
    std::size_t refused = 0;
    const auto checked = source.each([&](std::size_t n, std::string_view line) {
        rows.clear();
        if (auto problem = csv.append_row(line, rows); problem && ++refused <= max_listed)
            output.error(fmt::format("{}:{}: {}", shown, n, *problem));
        return true;
    });
    if (!checked) {
        output.error(fmt::format("cannot read {}: {}", shown, checked.error().reason));
        return ktnet_status::trouble;
    }
    if (refused > 0) {
        if (refused > max_listed) output.error(fmt::format("and {} more", refused - max_listed));
        output.error(
            fmt::format("nothing written: {} line{} cannot be exported (ktnet check "
                        "tells more)",
                        refused, refused == 1 ? "" : "s"));
        return ktnet_status::problems;
    }
    std::optional<ReplacementFile> file;
    if (!target.empty()) {
        auto begun = ReplacementFile::begin(target, ReplacementFile::Name::users);
        if (!begun) {
            output.error(fmt::format("cannot write {}: {}", target, begun.error().reason));
            return ktnet_status::trouble;
        }
        file.emplace(std::move(*begun));
    }
    const auto put = [&](const std::string& text) -> FileStatus {
        if (!file) {
            output.out() << text;
            return {};
        }
        return file->write({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    };
    FileStatus written = put(csv.header());
    const auto wrote = source.each([&](std::size_t, std::string_view line) {
        rows.clear();
        (void)csv.append_row(line, rows);
        if (written) written = put(rows);
        return static_cast<bool>(written);
    });
    if (!wrote) {
        output.error(fmt::format("cannot read {}: {}", shown, wrote.error().reason));
        return ktnet_status::trouble;
    }
    if (written && file) written = file->commit();
    if (!written) {
        output.error(fmt::format("cannot write {}: {}", target, written.error().reason));
        return ktnet_status::trouble;
    }
    if (file) {
        output.out() << fmt::format("{}: {} record{} exported to {}\n", printable(shown), *wrote,
                                    *wrote == 1 ? "" : "s", printable(target));
    } else {
        output.out() << std::flush;
    }
    return ktnet_status::success;
}

int export_scales(const ExportOptions& options, const std::vector<ScaleAddress>& scales,
                  const Shop& shop, const TextSettings& settings, const FieldNames& names,
                  ShopEnvironment& env, RunOutput& output) {
    const auto plus = parse_number_set(options.plu, 0, highest_request_plu);
    if (!plus) {
        output.error("--plu: " + plus.error());
        return ktnet_status::trouble;
    }
    const auto folder = path_of(options.output);
    if (scales.size() > 1) {
        std::error_code ec;
        if (options.output.empty() || !folder || !std::filesystem::is_directory(*folder, ec)) {
            output.error(
                "several scales are exported each into a file of its own: give -o FOLDER, an "
                "existing folder for their ADDRESS.csv files");
            return ktnet_status::trouble;
        }
    }
    auto connection = connect(env, options.device, output);
    if (!connection) return connection.error();
    const std::vector<std::uint32_t> asked = plus->numbers();
    for (const ScaleAddress& scale : scales) {
        const std::string label = shop.label(scale);
        output.progress().start(label, asked.size());
        const ScaleRead read =
            read_records(**connection, scale, asked,
                         [&](std::size_t n, const RecordFrame&) { output.progress().step(n); });
        output.progress().finish(read.complete ? "read" : "failed");
        if (read.stopped()) return exit_status::stopped_by(env.context.stop_signal());
        if (!read.complete) {
            output.error(fmt::format("{}: PLU {}: {}", label, read.failure.plu_asked,
                                     (*connection)->describe(read.failure)));
            return ktnet_status::trouble;
        }
        std::vector<std::string> lines;
        for (const RecordFrame& record : read.records) {
            const FormattedLine line = format_line(scale, record);
            lines.emplace_back(line.begin(), line.end() - 1);  // as a file gives it: without the LF
        }
        LineSource source(std::move(lines));
        const std::string target =
            scales.size() > 1 ? (*folder / (scale.text() + ".csv")).string() : options.output;
        if (const int status = export_source(source, label, target, settings, names, output);
            status != 0)
            return status;
    }
    return ktnet_status::success;
}

}  // namespace

int run_export(const ExportOptions& options, ShopEnvironment& env, RunOutput& output) {
    apply(options.device.output, output);
    const auto settings = text_settings(options.code_page, options.separator, output);
    if (!settings) return ktnet_status::trouble;
    const auto shop = shop_of(options.device, output);
    if (!shop) return ktnet_status::trouble;
    const auto fields = fields_of(options.device, *shop, output);
    if (!fields) return ktnet_status::trouble;
    if (const auto scales = scales_of_source(options.source, *shop))
        return export_scales(options, *scales, *shop, *settings, fields->names, env, output);
    if (!options.output.empty() && same_file(options.output, options.source)) {
        output.error(fmt::format("-o {} is the file exported: name another", options.output));
        return ktnet_status::trouble;
    }
    auto opened = open_plu_file(options.source);
    if (!opened) {
        output.error(fmt::format("cannot read {}: {}", options.source, opened.error().reason));
        return ktnet_status::trouble;
    }
    LineSource source(std::move(*opened));
    return export_source(source, options.source, options.output, *settings, fields->names, output);
}

void add_export(CLI::App& app, Command& chosen, ShopEnvironment& env) {
    auto options = std::make_shared<ExportOptions>();
    CLI::App* sub = app.add_subcommand(
        "export",
        "Write a PLU file or scales as CSV, one row per record: columns plu, name, then one per "
        "setting field, under the name the shop's fields file gives it, else after its line "
        "columns (c41_46 ...), with the decimals the fields file gives. Names are converted "
        "from the scales' code page to UTF-8.");
    sub->add_option("SOURCE", options->source,
                    "a PLU file, or scales (1S1, a name in the shop file, 1S1,2T3, 1S1-9, all; "
                    "./1S1 is a file)")
        ->required();
    sub->add_option("--plu", options->plu,
                    "the PLUs read from a scale: 1-10000, or a list such as 1-50,77")
        ->capture_default_str();
    sub->add_option("-o,--output", options->output,
                    "the CSV file (default: standard output); a folder for several scales");
    add_code_page_options(*sub, options->code_page, options->separator);
    add_fields_option(*sub, options->device);
    add_device_options(*sub, options->device, false);
    sub->footer(
        "Exit status: 0 written, 1 lines that cannot be exported (nothing written), 2 a bad "
        "option, a file that cannot be read or written, or a scale that cannot be read, 5 the "
        "controller held by another run.");
    sub->callback([options, &chosen, &env] {
        chosen = [options, &env](RunOutput& output) { return run_export(*options, env, output); };
    });
}

}  // namespace ktnet
