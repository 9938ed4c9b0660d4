# What a cross build (cmake/mingw-w64-x86_64.cmake) takes from the build machine: the JSON
# library's headers and GoogleTest's sources, both from Debian's packages. Only the JSON headers
# are copied into the build folder, so the target system's compiler never sees the build
# machine's other headers.
set(KLINE_JSON_HEADERS /usr/include/nlohmann CACHE PATH
  "The folder of the JSON library's headers (nlohmann/json.hpp) for a cross build")
if(NOT EXISTS ${KLINE_JSON_HEADERS}/json.hpp)
  message(FATAL_ERROR "${KLINE_JSON_HEADERS}/json.hpp not found (Debian: nlohmann-json3-dev)")
endif()
file(COPY ${KLINE_JSON_HEADERS} DESTINATION ${CMAKE_BINARY_DIR}/cross-include)
add_library(nlohmann_json INTERFACE)
target_include_directories(nlohmann_json SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/cross-include)
add_library(nlohmann_json::nlohmann_json ALIAS nlohmann_json)

set(KLINE_GTEST_SOURCES /usr/src/googletest CACHE PATH
  "GoogleTest's sources for a cross build")

# The Qt edge of a Windows cross build is checked against the build machine's Qt headers (the
# same interface as Qt for Windows): every file compiles for Windows, so nothing of the build
# machine's system is used outside its own platform files. The command-line parser's headers
# come along for the command-line program's files.
set(KLINE_QT_HEADERS /usr/include/x86_64-linux-gnu/qt6 CACHE PATH
  "The build machine's Qt 6 headers, to check the Qt edge compiles for the target system")
if(EXISTS /usr/include/CLI/CLI.hpp)
  file(COPY /usr/include/CLI DESTINATION ${CMAKE_BINARY_DIR}/cross-qt-check-include)
endif()
