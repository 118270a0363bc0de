#include "uploads.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>

#include "cli/replaced_file.hpp"
#include "shop/price_list.hpp"

namespace ktnet {

namespace {

// The uploaded name made safe to be part of a file name of ours: letters, digits, '.', '-' and
// '_' kept, anything else '_', at most 60 characters; the extension is what tells a price list.
std::string safe_part(std::string_view name) {
    if (const std::size_t slash = name.find_last_of("/\\"); slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
    std::string out;
    for (const char c : name.substr(0, 60)) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        out += keep ? c : '_';
    }
    if (out.empty() || out.front() == '.') out.insert(out.begin(), '_');
    return out;
}

// "u12-ceny.csv": the upload's number, or nothing for a file that is none of ours.
std::optional<unsigned> number_of(const std::string& file) {
    if (file.size() < 3 || file[0] != 'u') return std::nullopt;
    unsigned n = 0;
    const auto [end, ec] = std::from_chars(file.data() + 1, file.data() + file.size(), n);
    if (ec != std::errc() || end == file.data() + 1 || *end != '-') return std::nullopt;
    return n;
}

Upload upload_of(const std::filesystem::path& path, unsigned number) {
    const std::string file = path.filename().string();
    Upload u;
    u.number = number;
    u.id = fmt::format("u{}", number);
    u.name = file.substr(file.find('-') + 1);
    u.path = path;
    std::error_code ec;
    u.size = std::filesystem::file_size(path, ec);
    u.price_list = is_price_list(path.string());
    return u;
}

}  // namespace

Uploads::Uploads(Uploads&& other) noexcept
    : folder_(std::move(other.folder_)), uploads_(std::move(other.uploads_)), next_(other.next_) {}

Result<Uploads, std::string> Uploads::open(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (!std::filesystem::is_directory(folder, ec))
        return unexpected(fmt::format("{}: cannot make the folder of uploads", folder.string()));
    Uploads uploads(folder);
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (!entry.is_regular_file()) continue;
        const auto n = number_of(entry.path().filename().string());
        if (!n) continue;
        uploads.uploads_.push_back(upload_of(entry.path(), *n));
        uploads.next_ = std::max(uploads.next_, *n + 1);
    }
    std::sort(uploads.uploads_.begin(), uploads.uploads_.end(),
              [](const Upload& a, const Upload& b) { return a.number < b.number; });
    return uploads;
}

Result<Upload, std::string> Uploads::save(std::string_view name, std::string_view content) {
    if (content.size() > upload_limit)
        return unexpected(fmt::format("the file is larger than {} MB", upload_limit >> 20));
    std::lock_guard lock(mutex_);
    const unsigned number = next_++;
    const auto path = folder_ / fmt::format("u{}-{}", number, safe_part(name));
    auto file = ReplacementFile::begin(path, ReplacementFile::Name::ours);
    if (!file) return unexpected(path.string() + ": " + file.error().reason);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(content.data());
    if (auto w = file->write({bytes, content.size()}); !w)
        return unexpected(path.string() + ": " + w.error().reason);
    if (auto c = file->commit(); !c) return unexpected(path.string() + ": " + c.error().reason);
    Upload u = upload_of(path, number);
    u.name = std::string(name.substr(0, 200));
    uploads_.push_back(u);
    while (uploads_.size() > uploads_kept) {
        std::error_code ec;
        std::filesystem::remove(uploads_.front().path, ec);
        uploads_.erase(uploads_.begin());
    }
    return u;
}

std::optional<Upload> Uploads::find(std::string_view id) const {
    std::lock_guard lock(mutex_);
    for (const Upload& u : uploads_)
        if (u.id == id) return u;
    return std::nullopt;
}

std::vector<Upload> Uploads::list() const {
    std::lock_guard lock(mutex_);
    return uploads_;
}

}  // namespace ktnet
