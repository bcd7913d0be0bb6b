# The Debian package of the command-line host, the frei0r plug-in, the MLT
# module and the GStreamer plug-in, with
# the man page made from `norel --help`, the README and the licence.
find_program(HELP2MAN help2man)
if(HELP2MAN AND TARGET norel_cli)
  # The labels are UTF-8 in the page. Its date is SOURCE_DATE_EPOCH's when
  # set, and gzip -n leaves name and time out of the header, so that the
  # page is the same on every build of one commit.
  add_custom_command(OUTPUT norel.1.gz
    COMMAND ${HELP2MAN} --locale=C.UTF-8 --no-info --no-discard-stderr
      --version-string=${PROJECT_VERSION}
      --name "analogue composite video imitation for video files"
      --output norel.1 $<TARGET_FILE:norel_cli>
    COMMAND gzip -9nf norel.1
    DEPENDS norel_cli VERBATIM)
  add_custom_target(norel_man ALL DEPENDS norel.1.gz)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/norel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
add_custom_command(OUTPUT changelog.gz
  COMMAND gzip -9nc ${CMAKE_CURRENT_SOURCE_DIR}/release/changelog > changelog.gz
  DEPENDS release/changelog VERBATIM)
add_custom_target(norel_changelog ALL DEPENDS changelog.gz)
install(FILES README.md ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME norel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "the norel authors <norel@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "analogue composite video imitation filter")
set(CPACK_PACKAGE_DESCRIPTION
  "norel imitates what an analogue composite colour video chain does to an
interlaced picture: colour folded into the luma on a subcarrier, one field
moved against the other, vertical low-pass filtering and colour removal,
inside a rectangle of the picture, in bit-exact integer arithmetic.
.
This package holds the command-line host norel, which filters video files;
the native filters over the video's own YUV, field order and frame numbers:
the MLT module libmltnorel.so (filter norel, for melt, Kdenlive and Shotcut,
with Kdenlive's effect description and Shotcut's filter panel) and the
GStreamer element norel; and the frei0r plug-in norel.so for ffmpeg (Kdenlive
and Shotcut list the native filter alone).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
