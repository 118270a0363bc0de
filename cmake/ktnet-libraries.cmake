# The header-only C++ libraries ktnet uses: CLI11, {fmt} and nlohmann-json, as the targets
# ktnet_cli11, ktnet_fmt and ktnet_json. A native build takes Debian's packages
# (libcli11-dev, libfmt-dev, nlohmann-json3-dev) through their CMake files; {fmt} is used
# header-only there too, so the programs need no library of it at run time.
# The mingw-w64 cross-build must not see the host's /usr/include as a whole (its C headers are
# not Windows'): only these three header folders are copied into the build folder, and that copy
# is the include folder.
if(TARGET ktnet_cli11)
  return()
endif()

add_library(ktnet_cli11 INTERFACE)
add_library(ktnet_fmt INTERFACE)
add_library(ktnet_json INTERFACE)

if(CMAKE_CROSSCOMPILING)
  set(KTNET_HOST_INCLUDE /usr/include CACHE PATH
      "Where the host keeps the CLI, fmt and nlohmann header folders")
  set(copy ${CMAKE_BINARY_DIR}/host-headers)
  foreach(folder CLI fmt nlohmann)
    if(NOT EXISTS ${KTNET_HOST_INCLUDE}/${folder})
      message(FATAL_ERROR "${KTNET_HOST_INCLUDE}/${folder} is missing: "
                          "scripts/install-deps installs libcli11-dev, libfmt-dev, nlohmann-json3-dev")
    endif()
    file(COPY ${KTNET_HOST_INCLUDE}/${folder} DESTINATION ${copy})
  endforeach()
  foreach(target ktnet_cli11 ktnet_fmt ktnet_json)
    target_include_directories(${target} SYSTEM INTERFACE ${copy})
  endforeach()
  target_compile_definitions(ktnet_fmt INTERFACE FMT_HEADER_ONLY=1)
else()
  find_package(CLI11 REQUIRED)
  find_package(fmt REQUIRED)
  find_package(nlohmann_json REQUIRED)
  target_link_libraries(ktnet_cli11 INTERFACE CLI11::CLI11)
  target_link_libraries(ktnet_fmt INTERFACE fmt::fmt-header-only)
  target_link_libraries(ktnet_json INTERFACE nlohmann_json::nlohmann_json)
endif()
