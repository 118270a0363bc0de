// The loader's console texts.
#pragma once

#include <string_view>

namespace ktnet::loader_messages {

inline constexpr std::string_view arguments_ok = "\n parametry wywolania OK";
inline constexpr std::string_view arguments_invalid = "\n nieprawidlowe parametry wywolania ";
inline constexpr std::string_view record_accepted = "*";
inline constexpr std::string_view not_accepted = "\nbrak prawidlowej odpowiedzi wagi";
inline constexpr std::string_view bad_input = "\n bledne dane w zbiorze wejsciowym..";
inline constexpr std::string_view result_open_failed = "\n nie mozna otworzyc pliku wynik.txt";
inline constexpr std::string_view result_write_failed = "\n blad zapisu pliku wynik.txt";

}  // namespace ktnet::loader_messages
