# Compiler options shared by every target of the project.
add_library(korvane_options INTERFACE)
target_compile_options(korvane_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow
  $<$<BOOL:${KORVANE_WERROR}>:-Werror>)

if(KORVANE_SANITIZE)
  set(_korvane_san -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_compile_options(korvane_options INTERFACE ${_korvane_san})
  target_link_options(korvane_options INTERFACE ${_korvane_san})
endif()
