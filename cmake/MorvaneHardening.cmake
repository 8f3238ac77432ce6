# The hardening Debian builds its own packages with, for the Release build of the Linux programs
# (the one the package is made from): stack protector, fortified C library calls (which need the
# optimisation Release has), and relocations made read-only and bound at start-up. Debug, test,
# sanitizer and fuzz builds, and the Windows cross build, stay as they are.
if(NOT WIN32 AND NOT MORVANE_SANITIZE AND NOT MORVANE_FUZZ)
  set(release $<CONFIG:Release>)
  add_compile_options($<${release}:-U_FORTIFY_SOURCE> $<${release}:-D_FORTIFY_SOURCE=2>
                      $<${release}:-fstack-protector-strong>)
  add_link_options($<${release}:LINKER:-z,relro,-z,now>)
  unset(release)
endif()
