# Build flags: warnings and Debug-build library assertions for our own targets (dependency
# headers are not held to them), and the sanitizers, which must cover everything linked.
add_library(sheafwright_warnings INTERFACE)
target_compile_options(sheafwright_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion -Wnon-virtual-dtor
  -Woverloaded-virtual -Wimplicit-fallthrough -Wextra-semi)
if(SHEAFWRIGHT_WERROR)
  target_compile_options(sheafwright_warnings INTERFACE -Werror)
endif()
# By configuration rather than CMAKE_BUILD_TYPE, so that multi-config generators agree.
target_compile_definitions(sheafwright_warnings INTERFACE $<$<CONFIG:Debug>:_GLIBCXX_ASSERTIONS>)
if(SHEAFWRIGHT_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
