# Writes the two licence files that travel with the Windows programs (in the zip and the
# installer), with CR LF line ends:
#   LICENSE.txt               Morvane's own licence, taken from the Debian copyright file
#   THIRD-PARTY-NOTICES.txt   the licences of what the linker puts into the executables: the
#                             mingw-w64 runtime with winpthreads, and GCC's runtime libraries,
#                             as the Debian packages they come from state them
# Run at build time by packaging/CMakeLists.txt:
#   cmake -DVERSION=1.2.0 -DMORVANE_COPYRIGHT=debian/copyright
#         -DMINGW_COPYRIGHT=... -DMINGW_PACKAGE=... -DGCC_COPYRIGHT=... -DGCC_PACKAGE=...
#         -DLICENSE_OUT=... -DNOTICES_OUT=... -P notices.cmake
cmake_minimum_required(VERSION 3.21)

foreach(input MORVANE_COPYRIGHT MINGW_COPYRIGHT GCC_COPYRIGHT)
  if(NOT EXISTS "${${input}}")
    message(FATAL_ERROR "notices: no ${input} file '${${input}}'")
  endif()
endforeach()

function(write_crlf path text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE "${path}" "${text}")
endfunction()

# Morvane's licence: the first Copyright field and the first License paragraph of the Debian
# copyright file (continuation lines start with a space; a lone "." is an empty line).
file(READ "${MORVANE_COPYRIGHT}" debian_copyright)
string(REGEX MATCH "\nCopyright: ([^\n]*)" found "${debian_copyright}")
set(copyright "${CMAKE_MATCH_1}")
string(REGEX MATCH "\nLicense: [^\n]*\n(( [^\n]*\n)+)" found "${debian_copyright}")
set(licence "${CMAKE_MATCH_1}")
if(copyright STREQUAL "" OR licence STREQUAL "")
  message(FATAL_ERROR "notices: ${MORVANE_COPYRIGHT} has no Copyright or License field")
endif()
string(REGEX REPLACE "(^|\n) " "\\1" licence "${licence}")
string(REPLACE "\n.\n" "\n\n" licence "\n${licence}")  # twice: a match takes the next
string(REPLACE "\n.\n" "\n\n" licence "${licence}")     # empty line's leading line end
string(SUBSTRING "${licence}" 1 -1 licence)
write_crlf("${LICENSE_OUT}" "Morvane ${VERSION}\nCopyright ${copyright}\n\n${licence}")

set(rule "------------------------------------------------------------------------------")
file(READ "${MINGW_COPYRIGHT}" mingw_text)
file(READ "${GCC_COPYRIGHT}" gcc_text)
write_crlf("${NOTICES_OUT}" "\
Morvane ${VERSION} for Windows: third-party notices
${rule}

morvane.exe and morvane-cli.exe are linked statically: besides Morvane's own
code (LICENSE.txt) each carries parts of

  1. the mingw-w64 runtime (the C run-time start-up code and the import
     libraries of Windows' DLLs) and winpthreads, mingw-w64's POSIX threads
     library;
  2. GCC's runtime libraries, libgcc and libstdc++, under the GNU General
     Public License version 3 with the GCC Runtime Library Exception.

They need no other DLL than those of Windows itself. The licences of both
follow, as the Debian packages the programs were built from state them.

${rule}
1. mingw-w64 runtime and winpthreads (Debian package ${MINGW_PACKAGE})
${rule}

${mingw_text}
${rule}
2. libgcc and libstdc++ (Debian package ${GCC_PACKAGE})
${rule}

${gcc_text}")
