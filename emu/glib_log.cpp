#include "glib_log.hpp"

#include <glib.h>

#include <cstdio>

namespace ktnet::emu {

namespace {

GLogWriterOutput write_to_file(GLogLevelFlags level, const GLogField* fields, gsize count,
                               gpointer file) {
    const bool wanted = (level & (G_LOG_LEVEL_DEBUG | G_LOG_LEVEL_INFO)) == 0;
    if (file && wanted) {
        gchar* line = g_log_writer_format_fields(level, fields, count, FALSE);
        std::fprintf(static_cast<std::FILE*>(file), "%s\n", line);
        std::fflush(static_cast<std::FILE*>(file));
        g_free(line);
    }
    return G_LOG_WRITER_HANDLED;
}

void close_file(gpointer file) {
    if (file) std::fclose(static_cast<std::FILE*>(file));
}

}  // namespace

bool keep_glib_messages_off_console(const std::optional<std::string>& log_file) {
    std::FILE* file = log_file ? std::fopen(log_file->c_str(), "a") : nullptr;
    if (log_file && !file) return false;
    // GLib keeps the file with the writer, for as long as the process lives.
    g_log_set_writer_func(write_to_file, file, close_file);
    return true;
}

}  // namespace ktnet::emu
