# cmake -DINPUT=<file> -DOUTPUT=<file.cpp> -DSYMBOL=<name> -P embed_file.cmake
# Writes a C++ source that defines `const uint8_t SYMBOL[]` holding the file's bytes and
# `const std::size_t SYMBOL_size` holding their count.
foreach(var INPUT OUTPUT SYMBOL)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "embed_file.cmake: ${var} is not set")
  endif()
endforeach()

file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")

if(size EQUAL 0)
  # C++ has no empty arrays; the size still says 0.
  set(bytes "  0x00,\n")
else()
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REPEAT "0x..," 16 row)  # CMake regexes have no {n}
  string(REGEX REPLACE "(${row})" "\\1\n  " bytes "${bytes}")
  string(STRIP "${bytes}" bytes)
  set(bytes "  ${bytes}\n")
endif()

file(WRITE "${OUTPUT}" "// Generated from ${INPUT} at build time; do not edit.
#include <cstddef>
#include <cstdint>

extern const uint8_t ${SYMBOL}[];
extern const std::size_t ${SYMBOL}_size;

const uint8_t ${SYMBOL}[] = {
${bytes}};
const std::size_t ${SYMBOL}_size = ${size};
")
