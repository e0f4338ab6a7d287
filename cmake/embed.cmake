# embed_file(<function> <file> <output.cpp>): compiles the bytes of <file> into the function
# `std::string_view sheafwright::<function>()`, made again whenever the file changes. With
# STRIP_FINAL_NEWLINE, one line feed at the very end is left out.
function(embed_file function file output)
  cmake_parse_arguments(EMBED "STRIP_FINAL_NEWLINE" "" "" ${ARGN})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
  file(READ ${file} hex HEX)
  if(EMBED_STRIP_FINAL_NEWLINE)
    string(REGEX REPLACE "0a$" "" hex "${hex}")
  endif()
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  set(EMBED_FUNCTION ${function})
  set(EMBED_BYTES ${bytes})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/embedded.cpp.in ${output} @ONLY)
endfunction()
