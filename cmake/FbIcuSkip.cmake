# Speeds up the first attach of every process that uses the embedded Firebird 3 engine.
#
# libEngine12.so finds ICU by guessing file names, ignoring fbintl.conf: "5.2" first, then majors
# 4..7 with minors 19..0, three name forms each ("N", "N_M", "NM"), every guess a dlopen() by
# bare name, each tried twice. With ICU 72 that is ~470 misses before libicuuc.so.72, and every
# miss walks ld.so.cache and the default library directories: 0.3-0.4 s per process here.
#
# Remedy: a directory of empty files named like the wrong guesses, searched first through the
# program's DT_RPATH. A library without RUNPATH (libEngine12.so has none) also searches the
# executable's DT_RPATH when it dlopen()s; RUNPATH would not be consulted, hence
# --disable-new-dtags. An empty file ends the search at once ("file too short"), so each wrong
# guess costs microseconds; the real libicuuc.so.NN / libicui18n.so.NN load exactly as before.
#
# FB_ICU_SKIP_SONAMES=OFF keeps only names no ICU release ever used as a soname ("7", "7_2",
# "719"): nothing real can be shadowed, ~60% of the time is saved. ON (default) also covers the
# two-digit names of ICU releases that are not installed: ~75% saved, but after an ICU major
# change cmake must be re-run (the new soname would otherwise be hidden from the whole program).
# OFF by default: a decoy named like a real soname would also hide that library from Qt
# (DT_NEEDED is resolved through the same RPATH) after an ICU upgrade.
option(FB_ICU_SKIP_SONAMES "Also skip two-digit ICU sonames that are not installed" OFF)

file(STRINGS /usr/include/unicode/uvernum.h _fb_icu_line REGEX "^#define U_ICU_VERSION_MAJOR_NUM ")
string(REGEX MATCH "[0-9]+" _fb_icu_keep "${_fb_icu_line}")
if(NOT _fb_icu_keep)
  message(FATAL_ERROR "ICU major version not found in unicode/uvernum.h")
endif()
file(GLOB _fb_icu_installed LIST_DIRECTORIES false
  /lib/*/libicuuc.so.* /usr/lib/*/libicuuc.so.* /usr/lib/libicuuc.so.* /usr/local/lib/libicuuc.so.*)
foreach(_f IN LISTS _fb_icu_installed)
  if(_f MATCHES "libicuuc\\.so\\.([0-9]+)$")
    list(APPEND _fb_icu_keep "${CMAKE_MATCH_1}")
  endif()
endforeach()

set(FB_ICU_SKIP_DIR "${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/fb-icu-skip")
set(_fb_icu_names)
foreach(_a RANGE 3 9)
  foreach(_b RANGE 0 19)
    foreach(_s "${_a}" "${_a}_${_b}" "${_a}${_b}")
      if(_s MATCHES "^[0-9][0-9]$" AND (NOT FB_ICU_SKIP_SONAMES OR _s IN_LIST _fb_icu_keep))
        continue()
      endif()
      list(APPEND _fb_icu_names "${FB_ICU_SKIP_DIR}/libicuuc.so.${_s}" "${FB_ICU_SKIP_DIR}/libicui18n.so.${_s}")
    endforeach()
  endforeach()
endforeach()
list(REMOVE_DUPLICATES _fb_icu_names)
file(REMOVE_RECURSE "${FB_ICU_SKIP_DIR}")
file(MAKE_DIRECTORY "${FB_ICU_SKIP_DIR}")
file(TOUCH ${_fb_icu_names})

# Must run before the targets are created (CMAKE_BUILD_RPATH initialises their BUILD_RPATH).
set_property(TARGET Firebird::Client APPEND PROPERTY INTERFACE_LINK_OPTIONS "LINKER:--disable-new-dtags")
list(APPEND CMAKE_BUILD_RPATH "\$ORIGIN/fb-icu-skip")
