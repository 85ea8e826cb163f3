# The hardening a Linux distribution gives its programs, written out here because
# Debian 12's dpkg-buildflags leaves some of it out (stack clash protection and
# control-flow protection) and CMake's Release type would otherwise build at -O3.
#
# aol_harden(TARGET [STATIC]) hardens what TARGET compiles and, for a program,
# how it links: call it on the program and on the object libraries it is made
# of. STATIC links a program as a static PIE.
# Linux only, and not for the fuzz build; the sanitized builds of the tests are
# not hardened (the sanitizers check memory themselves).
include_guard(GLOBAL)
include(CheckCXXCompilerFlag)
include(CheckCXXSourceCompiles)

function(aol_harden target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "STATIC" "" "")
  if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux" OR AOL_FUZZ)
    return()
  endif()
  # Not every compiler and architecture has these two (-fcf-protection is
  # x86's); the others are in every GCC and Clang that builds C++20.
  check_cxx_compiler_flag(-fstack-clash-protection AOL_HAVE_STACK_CLASH_PROTECTION)
  check_cxx_compiler_flag(-fcf-protection AOL_HAVE_CF_PROTECTION)

  # Level 2 of _FORTIFY_SOURCE checks a call at run time only where the buffer's
  # size is fixed and the compiler cannot prove the call safe; here it proves
  # every such call, so level 2 leaves no check in the program. Level 3 also
  # checks sizes known only at run time (GCC 12 or Clang 9, glibc 2.34 or
  # later), and is taken where glibc offers it without a warning.
  set(CMAKE_REQUIRED_FLAGS "-O2 -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=3 -Werror")
  check_cxx_source_compiles("#include <unistd.h>\nint main() { return 0; }" AOL_HAVE_FORTIFY_SOURCE_3)
  unset(CMAKE_REQUIRED_FLAGS)
  if(AOL_HAVE_FORTIFY_SOURCE_3)
    set(fortify_level 3)
  else()
    set(fortify_level 2)
  endif()

  # _FORTIFY_SOURCE needs the optimiser (older glibc warns, and -Werror fails
  # the build, without it), so a Debug build goes without. Release builds at
  # -O2, as the distributions do, not at CMake's -O3: the later -O wins. A
  # compiler that defines _FORTIFY_SOURCE itself (Ubuntu's does) would see a
  # redefinition, hence the -U first.
  set(optimised $<CONFIG:Release,RelWithDebInfo,MinSizeRel>)
  target_compile_options(${target} PRIVATE
    $<$<CONFIG:Release>:-O2>
    $<${optimised}:-U_FORTIFY_SOURCE>
    $<${optimised}:-D_FORTIFY_SOURCE=${fortify_level}>
    -fstack-protector-strong
    $<$<BOOL:${AOL_HAVE_STACK_CLASH_PROTECTION}>:-fstack-clash-protection>
    $<$<BOOL:${AOL_HAVE_CF_PROTECTION}>:-fcf-protection>)

  # A library that goes into the program is compiled as the program is: under
  # -fPIC its exported functions could be interposed, which keeps the compiler
  # from inlining them.
  target_compile_options(${target} PRIVATE -fPIE)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    # Never -pie beside -static-pie: the two together link a dynamic program,
    # without a word.
    if(ARG_STATIC)
      target_link_options(${target} PRIVATE -static-pie -Wl,-z,relro -Wl,-z,now)
    else()
      target_link_options(${target} PRIVATE -pie -Wl,-z,relro -Wl,-z,now)
    endif()
  endif()
endfunction()
