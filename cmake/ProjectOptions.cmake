# Warnings, sanitizers and the code rules of the module's own targets.

if(QUILLON_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Warnings as errors on every target of ours; third-party code is added
# without this.
function(quillon_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wsign-conversion -Werror)
endfunction()

# The module's own code: no exceptions, no RTTI, no global constructors.
function(quillon_module_code target)
  quillon_warnings(${target})
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
endfunction()

if(WIN32)
  # Everything the runtime brings is linked in, so the binaries need no
  # libgcc, libstdc++ or winpthread DLL next to them.
  add_link_options(-static -static-libgcc -static-libstdc++)

  # Windows executables run under Wine in a prefix of this build's own; ctest
  # starts and stops its display and wineserver through the wine_session
  # fixture.
  set(QUILLON_WINE_DIR "${CMAKE_BINARY_DIR}/wine")
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_SOURCE_DIR}/scripts/wine-run.sh;--test;${QUILLON_WINE_DIR}")
endif()
