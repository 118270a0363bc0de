// The files uploaded to the shop's page, kept in a folder of the server's alone under names the
// server chose, so that no request can name a file outside it. Each keeps its name as the
// browser gave it only to show it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.hpp"

namespace ktnet {

inline constexpr std::size_t upload_limit = 16 * 1024 * 1024;
// The uploads kept: the oldest beyond them are removed, so that the folder cannot grow for ever.
inline constexpr std::size_t uploads_kept = 50;

struct Upload {
    unsigned number = 0;
    std::string id;    // "u3"
    std::string name;  // as uploaded, for showing
    std::filesystem::path path;
    std::uintmax_t size = 0;
    bool price_list = false;
};

class Uploads {
public:
    // The folder is made when missing; the uploads already in it are taken up again.
    [[nodiscard]] static Result<Uploads, std::string> open(const std::filesystem::path& folder);

    [[nodiscard]] Result<Upload, std::string> save(std::string_view name, std::string_view content);
    std::optional<Upload> find(std::string_view id) const;
    std::vector<Upload> list() const;

    Uploads(Uploads&& other) noexcept;

private:
    explicit Uploads(std::filesystem::path folder) : folder_(std::move(folder)) {}

    std::filesystem::path folder_;
    mutable std::mutex mutex_;
    std::vector<Upload> uploads_;
    unsigned next_ = 1;
};

}  // namespace ktnet
