// The character type the C library converts text with.
#pragma once

namespace ktnet {

// Takes LC_CTYPE from the environment (LC_ALL, LC_CTYPE, LANG), as a program should, but falls
// back to C.UTF-8 when that does not give UTF-8: C, POSIX, unset, or a Latin-2 locale. hidapi
// converts the device's UTF-8 product string with this setting, and a conversion that fails
// gives an empty string, so that a controller whose name goes on with a non-ASCII character
// would not be found. True when a UTF-8 LC_CTYPE is in effect; without one (C.UTF-8 not
// installed) only ASCII product strings convert. On Windows the product string comes as wide
// characters without conversion: the environment's setting is taken as it is, and the result
// says whether it could be.
[[nodiscard]] bool configure_character_locale();

}  // namespace ktnet
