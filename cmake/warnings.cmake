# Flags for our own targets only; dependency headers are not held to them.
add_library(sheafwright_warnings INTERFACE)
target_compile_options(sheafwright_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion -Wnon-virtual-dtor
  -Woverloaded-virtual -Wimplicit-fallthrough -Wextra-semi)
if(SHEAFWRIGHT_WERROR)
  target_compile_options(sheafwright_warnings INTERFACE -Werror)
endif()
if(CMAKE_BUILD_TYPE STREQUAL "Debug")
  target_compile_definitions(sheafwright_warnings INTERFACE _GLIBCXX_ASSERTIONS)
endif()
if(SHEAFWRIGHT_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
