// umockdev reports through GLib's log, which writes to standard error: the console the command
// shares with this process. Its messages go to a file of their own instead, or nowhere.
#pragma once

#include <optional>
#include <string>

namespace ktnet::emu {

// From now on, for the rest of the process: warnings and worse are appended to log_file when
// one is given, and dropped otherwise; debugging and informational messages are dropped.
// False, changing nothing, when log_file cannot be opened for appending.
[[nodiscard]] bool keep_glib_messages_off_console(const std::optional<std::string>& log_file);

}  // namespace ktnet::emu
