# Debian's hardening flags, as dpkg-buildflags gives them with every
# hardening feature (fortified libc calls, stack protector, format checks,
# read-only relocations bound at start), for builds that optimise. Their -O
# and -g are left to the build type. PIE is the compiler's default on Debian.
option(KORVALEN_HARDEN "Build with Debian's hardening flags (dpkg-buildflags)" ON)
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
# Sanitizer builds (KORVALEN_SANITIZE, the fuzzers' flags) go without.
if(KORVALEN_HARDEN AND DPKG_BUILDFLAGS AND NOT KORVALEN_SANITIZE
   AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize" AND NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
    foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
        execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                                ${DPKG_BUILDFLAGS} --get ${kind}
                        OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
        separate_arguments(flags UNIX_COMMAND "${flags}")
        list(FILTER flags EXCLUDE REGEX "^-(O.*|g.*|ffile-prefix-map=.*)$")
        set(korvalen_hardening_${kind} ${flags})
    endforeach()
    # Newer dpkg adds these two with hardening=+all (hardening-check asks
    # for them); bookworm's does not yet.
    include(CheckCXXCompilerFlag)
    foreach(flag -fstack-clash-protection -fcf-protection)
        string(MAKE_C_IDENTIFIER "korvalen_has${flag}" has)
        check_cxx_compiler_flag(${flag} ${has})
        if(${has} AND NOT flag IN_LIST korvalen_hardening_CXXFLAGS)
            list(APPEND korvalen_hardening_CXXFLAGS ${flag})
        endif()
    endforeach()
    add_compile_options(${korvalen_hardening_CPPFLAGS} ${korvalen_hardening_CXXFLAGS})
    add_link_options(${korvalen_hardening_LDFLAGS})
    set(CMAKE_POSITION_INDEPENDENT_CODE ON)
    message(STATUS "Hardening: ${korvalen_hardening_CPPFLAGS} ${korvalen_hardening_CXXFLAGS} "
                   "${korvalen_hardening_LDFLAGS}")
endif()
