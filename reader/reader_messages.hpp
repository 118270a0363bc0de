// The reader's console texts.
#pragma once

#include <array>
#include <string_view>

namespace ktnet::reader_messages {

inline constexpr std::string_view arguments_ok = "\nparametry wywolania OK";

inline constexpr std::array<std::string_view, 10> help = {
    "\nnieprawidlowe parametry wywolania ",
    "\nprawidlowo powinno byc ",
    "\nrdk 1 S 1 1 999 rdk.txt",
    "\n rdk - nazwa programu",
    "\n 1   - numer kanalu w KT-NET ",
    "\n S   - sekcja lub terminal ",
    "\n 1   - numer sekcji lub terminala ",
    "\n 1   - poczatkowe plu ",
    "\n 999 - koncowe plu ",
    "\n rdk.txt - nazwa pliku wyjsciowego",
};

inline constexpr std::string_view record_written = "*";

// Windows consoles show code page 1250, where the letter is the single byte 0xB3;
// elsewhere terminals are UTF-8.
#ifdef _WIN32
inline constexpr std::string_view no_valid_answer = "\nbrak prawid\xB3owej odpowiedzi z wagi";
#else
inline constexpr std::string_view no_valid_answer = "\nbrak prawid\xC5\x82owej odpowiedzi z wagi";
#endif

inline constexpr std::string_view write_failed = "\nblad zapisu pliku wyjsciowego";

}  // namespace ktnet::reader_messages
