# The Debian package for Linux: the demo and the authoring tools in /usr/bin,
# the archive they share as a private library, their manual pages, the desktop entry with the demo's icon, and the copyright
# and changelog files in /usr/share/doc/quex-invi. Depends is worked out by
# dpkg-shlibdeps from the binaries' shared libraries. Made with `cpack -G DEB`
# in a build folder (scripts/release.sh); tests/e2e/package_lint.sh lints it.
set(QUEX_PACKAGED quex_invi quex_capture quex_inspect quex_bench quex_preview)
# One copy of the archive for the five programs: a library of the package's own,
# out of the linker's search path, that the programs find through their RUNPATH.
set(QUEX_PRIVATE_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE}/quex-invi)
install(TARGETS quex_archive LIBRARY DESTINATION ${QUEX_PRIVATE_LIBDIR})
foreach(target IN LISTS QUEX_PACKAGED)
  if(TARGET ${target})
    install(TARGETS ${target} RUNTIME DESTINATION bin)
    set_target_properties(${target} PROPERTIES INSTALL_RPATH /usr/${QUEX_PRIVATE_LIBDIR})
  endif()
endforeach()
# Stripped as dh_strip strips: without the compilers' comment sections either.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    file(GLOB shipped \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/quex_*\"
                      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${QUEX_PRIVATE_LIBDIR}/*.so\")
    foreach(file IN LISTS shipped)
      execute_process(COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment \${file})
    endforeach()
  endif()")

set(QUEX_PACKAGING ${CMAKE_SOURCE_DIR}/packaging)
set(QUEX_PACKAGE_OUT ${CMAKE_BINARY_DIR}/package)
# The changelog's date, so that generated files carry it rather than the day of the build.
set(QUEX_RELEASE_EPOCH 1796810400)

# The tools' manual pages come from their --help and --version (help2man), so
# a page cannot disagree with its program; the demo, which reads no
# arguments, has a page written by hand.
set(quex_capture_man_name "render the quex_invi demo offline to pictures or a video")
set(quex_inspect_man_name "show, lint and draw the schedule of a quex_invi demo script")
set(quex_bench_man_name "measure what each scene of the quex_invi demo costs")
set(quex_preview_man_name "play the quex_invi demo while its script is edited")
set(QUEX_MAN_PAGES ${QUEX_PACKAGE_OUT}/quex_invi.1.gz)
add_custom_command(
  OUTPUT ${QUEX_PACKAGE_OUT}/quex_invi.1.gz
  COMMAND gzip -9nc ${QUEX_PACKAGING}/quex_invi.1 > ${QUEX_PACKAGE_OUT}/quex_invi.1.gz
  DEPENDS ${QUEX_PACKAGING}/quex_invi.1)
if(QUEX_TOOLS AND NOT QUEX_SANITIZE)
  find_program(HELP2MAN_EXECUTABLE help2man)
  quex_require(HELP2MAN_EXECUTABLE "help2man (manual pages of the tools)" help2man)
  foreach(tool quex_capture quex_inspect quex_bench quex_preview)
    add_custom_command(
      OUTPUT ${QUEX_PACKAGE_OUT}/${tool}.1.gz
      COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${QUEX_RELEASE_EPOCH}
              ${HELP2MAN_EXECUTABLE} --no-info --section=1 --name=${${tool}_man_name}
              --output=${QUEX_PACKAGE_OUT}/${tool}.1 $<TARGET_FILE:${tool}>
      COMMAND gzip -9nf ${QUEX_PACKAGE_OUT}/${tool}.1
      DEPENDS ${tool}
      COMMENT "Manual page of ${tool}")
    list(APPEND QUEX_MAN_PAGES ${QUEX_PACKAGE_OUT}/${tool}.1.gz)
  endforeach()
endif()
add_custom_command(
  OUTPUT ${QUEX_PACKAGE_OUT}/changelog.Debian.gz
  COMMAND gzip -9nc ${QUEX_PACKAGING}/changelog > ${QUEX_PACKAGE_OUT}/changelog.Debian.gz
  DEPENDS ${QUEX_PACKAGING}/changelog)
file(MAKE_DIRECTORY ${QUEX_PACKAGE_OUT})
add_custom_target(quex_package_files ALL DEPENDS ${QUEX_MAN_PAGES}
                                                 ${QUEX_PACKAGE_OUT}/changelog.Debian.gz)

install(FILES ${QUEX_MAN_PAGES} DESTINATION share/man/man1)
install(FILES ${QUEX_PACKAGING}/copyright ${QUEX_PACKAGE_OUT}/changelog.Debian.gz
        DESTINATION share/doc/quex-invi)
install(FILES ${QUEX_PACKAGING}/quex-invi.desktop DESTINATION share/applications)
foreach(size 16 24 32 48 64 128 256)
  install(FILES ${QUEX_PACKAGING}/icons/quex-invi-${size}.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME quex-invi.png)
endforeach()
install(FILES ${QUEX_PACKAGING}/lintian-overrides DESTINATION share/lintian/overrides
        RENAME quex-invi)

set(CPACK_PACKAGE_NAME quex-invi)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "real-time audiovisual demo with its authoring tools")
# The project has no public address yet; the reserved .invalid domain (RFC 2606)
# says so rather than inventing one.
set(CPACK_PACKAGE_CONTACT "quex_invi developers <quex-invi@no-public-address.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
# GLFW opens libGL at run time, so no binary names it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS libgl1)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS ffmpeg)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A full-screen OpenGL demo: effect scenes, scrolling texts and overlays\n"
    "synchronised to its music. The tools render stills and clips of it\n"
    "(quex_capture), check its script (quex_inspect), time its scenes\n"
    "(quex_bench) and play it while its script is edited (quex_preview).\n"
    "quex_capture needs ffmpeg (suggested) to write a video with sound.")
string(JOIN "" CPACK_DEBIAN_PACKAGE_DESCRIPTION ${CPACK_DEBIAN_PACKAGE_DESCRIPTION})
include(CPack)
