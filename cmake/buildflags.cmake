# The Linux programs are compiled and linked as Debian builds its packages:
# with dpkg-buildflags' flags and every hardening feature (fortify, stack
# protector, relro, bind-now). The build type's own flags (-O3 for Release)
# come after them. Sanitizer builds keep theirs.
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(DPKG_BUILDFLAGS AND NOT QUEX_SANITIZE)
  foreach(kind CPPFLAGS CFLAGS CXXFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all ${DPKG_BUILDFLAGS}
              --get ${kind}
      WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} OUTPUT_VARIABLE QUEX_DEB_${kind}
      OUTPUT_STRIP_TRAILING_WHITESPACE)
  endforeach()
  string(APPEND CMAKE_C_FLAGS " ${QUEX_DEB_CPPFLAGS} ${QUEX_DEB_CFLAGS}")
  string(APPEND CMAKE_CXX_FLAGS " ${QUEX_DEB_CPPFLAGS} ${QUEX_DEB_CXXFLAGS}")
  string(APPEND CMAKE_EXE_LINKER_FLAGS " ${QUEX_DEB_LDFLAGS}")
  string(APPEND CMAKE_SHARED_LINKER_FLAGS " ${QUEX_DEB_LDFLAGS}")
endif()
