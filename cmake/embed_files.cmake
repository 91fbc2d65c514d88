# cmake -DOUT=file.cpp -DSYMBOL=name -DNAMESPACE=ns -P embed_files.cmake FILE...
# Writes the files as one array of byte arrays, in the order given, so that a
# program carries them inside itself: const std::uint8_t SYMBOL[N][SIZE].
# Every file must have the size of the first.
set(files)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE 0 ${last})
  if(CMAKE_ARGV${i} STREQUAL "-P")
    math(EXPR first "${i} + 2")
    foreach(j RANGE ${first} ${last})
      list(APPEND files "${CMAKE_ARGV${j}}")
    endforeach()
    break()
  endif()
endforeach()
list(LENGTH files count)
list(GET files 0 first_file)
file(SIZE "${first_file}" size)
set(body "")
foreach(f ${files})
  file(SIZE "${f}" s)
  if(NOT s EQUAL size)
    message(FATAL_ERROR "${f}: ${s} bytes, expected ${size}")
  endif()
  file(READ "${f}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," hex "${hex}")
  string(REGEX REPLACE "((0x..,){32})" "\\1\n" hex "${hex}")
  get_filename_component(name "${f}" NAME)
  string(APPEND body "  {  // ${name}\n${hex}\n  },\n")
endforeach()
file(WRITE "${OUT}.tmp"
  "// Generated from the files named below at build time; do not edit.\n"
  "#include <cstdint>\n\nnamespace ${NAMESPACE} {\n\n"
  "extern const std::uint8_t ${SYMBOL}[${count}][${size}];\n"
  "const std::uint8_t ${SYMBOL}[${count}][${size}] = {\n${body}};\n\n}  // namespace ${NAMESPACE}\n")
file(RENAME "${OUT}.tmp" "${OUT}")
