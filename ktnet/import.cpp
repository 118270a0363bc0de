#include "import.hpp"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <memory>
#include <ostream>
#include <utility>

#include "base/text.hpp"
#include "cli/exit_status.hpp"
#include "cli/locked_file.hpp"
#include "cli/replaced_file.hpp"
#include "formats/csv.hpp"
#include "formats/plu_csv.hpp"
#include "formats/plu_files.hpp"
#include "link/scale_address.hpp"
#include "options_common.hpp"
#include "plu/file_check.hpp"
#include "shop/price_list.hpp"

namespace ktnet {

namespace {

constexpr std::size_t max_listed = 20;
constexpr std::size_t no_column = static_cast<std::size_t>(-1);

// The base of --onto: a scale's known state in the store (an address or a name of the shop
// file), else a PLU file; the exit status after the reason was said.
Result<std::optional<MergeBase>, int> base_of(const ImportOptions& options, const Shop& shop,
                                              RunOutput& output) {
    if (options.onto.empty()) return std::optional<MergeBase>();
    if (const auto scale = single_scale(options.onto, shop)) {
        auto store = open_store(options.device, shop, output);
        if (!store) return unexpected(store.error());
        auto known = store->known(*scale);
        if (!known) return unexpected(output.fail(known.error()));
        if (!known->latest_backup && known->records.empty()) {
            return unexpected(output.fail(
                fmt::format("--onto {}: the store knows nothing of what {} holds; fill it in "
                            "with: ktnet backup {}",
                            options.onto, scale->text(), scale->text())));
        }
        return std::optional<MergeBase>(base_of_known(*scale, *known));
    }
    auto base = base_of_file(options.onto);
    if (!base) {
        for (const std::string& m : base.error().messages) output.error(m);
        if (base.error().more > 0) output.error(fmt::format("and {} more", base.error().more));
        return unexpected(
            output.fail(fmt::format("--onto {}: not a base to merge onto", options.onto)));
    }
    return std::optional<MergeBase>(std::move(*base));
}

}  // namespace

int run_import(const ImportOptions& options, ShopEnvironment& env, RunOutput& output) {
    apply(options.device.output, output);
    const auto csv = csv_input(options.csv, output);
    if (!csv) return ktnet_status::trouble;
    const auto shop = shop_of(options.device, output);
    if (!shop) return ktnet_status::trouble;
    const auto fields = fields_of(options.device, *shop, output);
    if (!fields) return ktnet_status::trouble;
    if (same_file(options.output, options.input))
        return output.fail(fmt::format("-o {} is the CSV file read: name another", options.output));
    if (!options.onto.empty() && same_file(options.output, options.onto))
        return output.fail(fmt::format("-o {} is the base read: name another", options.output));
    auto base = base_of(options, *shop, output);
    if (!base) return base.error();
    std::string scale_text = options.scale;
    if (scale_text.empty()) scale_text = *base && (*base)->scale ? (*base)->scale->text() : "1S1";
    const auto scale = ScaleAddress::parse(scale_text);
    if (!scale) {
        return output.fail(
            fmt::format("--scale '{}' is not a scale such as 1S1 or 2T3", options.scale));
    }
    const auto in_path = path_of(options.input);
    auto input = in_path ? LockedFile::open_for_reading(*in_path)
                         : FileResult<LockedFile>(
                               file_refused(FileError::Kind::system, "the name is not valid here"));
    if (!input)
        return output.fail(fmt::format("cannot read {}: {}", options.input, input.error().reason));
    auto target = ReplacementFile::begin(options.output, ReplacementFile::Name::users);
    if (!target)
        return output.fail(
            fmt::format("cannot write {}: {}", options.output, target.error().reason));

    std::size_t problems = 0;
    const auto report = [&](CellProblem&& p) {
        if (++problems <= max_listed)
            output.error(fmt::format("{}: {}: {}", options.input, place_of(p), p.message));
    };
    // Every line written also passes the rules of ktnet check and load, as the row it came from.
    std::vector<std::uint32_t> row_of_line;
    PluFileChecker checker({}, [&](Finding&& f) {
        if (f.is_problem()) report({row_of_line.at(f.line - 1), no_column, "", f.message});
    });
    std::size_t lines = 0;
    FileStatus written;
    const MergeBase* onto = *base ? &**base : nullptr;
    bool base_missing = false;  // said once: every row lacks it alike
    const auto read = read_price_list(
        *input, {csv->choice(), csv->names, fields->names},
        {[&](const CsvFileFacts& facts) {
             output.note(fmt::format("{}: {}", options.input, describe(facts)));
         },
         [&](const RowPatch& row) {
             if (!onto && !row.whole) {
                 if (!std::exchange(base_missing, true)) {
                     report({1, no_column, "",
                             "the CSV does not give every field: name what the others come from "
                             "with --onto FILE or --onto SCALE"});
                 }
                 return;
             }
             const auto merged = merge_row(row, onto, fields->names);
             if (!merged) {
                 report({row.row, no_column, "", merged.error()});
                 return;
             }
             if (problems > 0 || !written) return;
             const FormattedLine line = format_line(*scale, *merged);
             row_of_line.push_back(static_cast<std::uint32_t>(row.row));
             ++lines;
             checker.line({reinterpret_cast<const char*>(line.data()), line_columns + 1});
             written = target->write_text(line);
         },
         report, [&] { return env.context.stop_signal() == 0; }});
    if (!read)
        return output.fail(fmt::format("cannot read {}: {}", options.input, read.error().reason));
    // Ctrl+C stops between two blocks of rows; nothing is written then.
    if (read->facts.stopped) return exit_status::stopped_by(env.context.stop_signal());
    checker.end({});
    if (problems > 0) {
        if (problems > max_listed) output.error(fmt::format("and {} more", problems - max_listed));
        output.error(fmt::format("{} not written: {} problem{}", options.output, problems,
                                 problems == 1 ? "" : "s"));
        return ktnet_status::problems;
    }
    if (written) written = target->commit();
    if (!written)
        return output.fail(
            fmt::format("cannot write {}: {}", options.output, written.error().reason));
    output.out() << fmt::format(
        "{}: {} record{} written for scale {}{}\n", printable(options.output), lines,
        lines == 1 ? "" : "s", scale->text(),
        onto ? fmt::format(", merged onto {}", printable(onto->name)) : std::string());
    return ktnet_status::success;
}

void add_import(CLI::App& app, Command& chosen, ShopEnvironment& env) {
    auto options = std::make_shared<ImportOptions>();
    CLI::App* sub = app.add_subcommand(
        "import",
        "Turn a CSV file written by export (and edited) back into a PLU file in the reader's "
        "exact format. Every problem is reported with its row and column, and then the output "
        "file is not written.");
    sub->add_option("IN", options->input, "the CSV file")->required();
    sub->add_option("-o,--output", options->output, "the PLU file to write")->required();
    sub->add_option("--onto", options->onto,
                    "what the fields the CSV does not give come from: a PLU file, or a scale "
                    "(1S1, a name in the shop file) as the shop's store knows it");
    sub->add_option("--scale", options->scale,
                    "the scale shown in columns 0-8, e.g. 2T3 (default: the scale of --onto, "
                    "else 1S1)");
    add_csv_input_options(*sub, options->csv);
    add_fields_option(*sub, options->device);
    add_shop_options(*sub, options->device);
    sub->footer(
        "A CSV gives plu and at least one field; without every field it needs --onto. A row "
        "never blanks an article: a PLU the base lacks, a name emptied, or every setting zeroed "
        "is refused. The file holds the rows' records, in the CSV's order. Exit status: 0 "
        "written, 1 problems in the CSV (nothing written), 2 a bad option or a file that cannot "
        "be read or written.");
    add_output_options(*sub, options->device.output, false);
    sub->callback([options, &chosen, &env] {
        chosen = [options, &env](RunOutput& output) { return run_import(*options, env, output); };
    });
}

}  // namespace ktnet
