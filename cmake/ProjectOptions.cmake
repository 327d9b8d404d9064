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
# NO_STACK_PROTECTOR: the stack guard's own code, which seeds the canary
# before it holds its value and runs after it is found broken.
function(quillon_module_code target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "NO_STACK_PROTECTOR" "" "")
  quillon_warnings(${target})
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
  if(WIN32)
    # Hardened as a guest in another program's process: a canary on every
    # frame with a local array or a local whose address is taken (GCC's
    # counterpart of /GS), and no unwind tables, since nothing in the module
    # throws or is unwound through. The canary and its failure path are our
    # own (plugin/stack_guard.cpp), not libssp: libssp seeds from advapi32's
    # Crypt* calls, which load DLLs under the loader lock, and its failure
    # path writes to a console and raises an exception a handler can catch.
    # The protector is therefore only a compile option here; as a link option
    # GCC would add libssp. Whatever links the code links stack_guard too.
    target_compile_options(${target} PRIVATE -fno-asynchronous-unwind-tables -fno-unwind-tables)
    if(arg_NO_STACK_PROTECTOR)
      target_compile_options(${target} PRIVATE -fno-stack-protector)
    else()
      target_compile_options(${target} PRIVATE -fstack-protector-strong)
      target_link_libraries(${target} PUBLIC stack_guard)
    endif()
  endif()
endfunction()

if(WIN32)
  # Everything the runtime brings is linked in, so the binaries need no
  # libgcc, libstdc++ or winpthread DLL next to them.
  add_link_options(-static -static-libgcc -static-libstdc++)

  # One commit gives the same bytes wherever it is checked out and whenever it
  # is built: no link time in the PE file header or the export directory (the
  # header checksum then follows the bytes alone), and no checkout path in
  # anything the compiler writes (__FILE__, debug information). The build
  # folder's own map comes last, so it wins inside the checkout.
  add_link_options(-Wl,--no-insert-timestamp)
  add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>
                      $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>)

  # Windows executables run under Wine in a prefix of this build's own; ctest
  # starts and stops its display and wineserver through the wine_session
  # fixture.
  set(QUILLON_WINE_DIR "${CMAKE_BINARY_DIR}/wine")
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_SOURCE_DIR}/scripts/wine-run.sh;--test;${QUILLON_WINE_DIR}")
endif()
