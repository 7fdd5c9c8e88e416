# The Debian package for Linux: the demo and the authoring tools in /usr/bin,
# with Depends worked out by dpkg-shlibdeps from the binaries' shared
# libraries. Made with `cpack -G DEB` in a build folder (scripts/release.sh).
set(QUEX_PACKAGED quex_invi quex_capture quex_inspect quex_bench quex_preview)
foreach(target IN LISTS QUEX_PACKAGED)
  if(TARGET ${target})
    install(TARGETS ${target} RUNTIME DESTINATION bin)
  endif()
endforeach()

set(CPACK_PACKAGE_NAME quex-invi)
set(CPACK_PACKAGE_VERSION 0.1.0)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "real-time audiovisual demo with its authoring tools")
set(CPACK_PACKAGE_CONTACT "quex_invi developers <quex-invi@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# GLFW opens libGL at run time, so no binary names it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS libgl1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A full-screen OpenGL demo: effect scenes, scrolling texts and overlays\nsynchronised to its music. The tools render stills and clips of it\n(quex_capture), check its script (quex_inspect), time its scenes\n(quex_bench) and play it while its script is edited (quex_preview).")
include(CPack)
