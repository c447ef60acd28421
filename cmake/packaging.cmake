# Release files: `make dist` builds the target `dist` of the native build, which writes the Windows
# zip and installer from the Windows builds, the Debian package of the Linux saver (CPack), the web
# site's zip from the web build and their SHA256SUMS into dist/ (scripts/dist.py).
if(CMAKE_CROSSCOMPILING)
  return()
endif()

set(LUMIVEX_WIN64_DIR "${CMAKE_SOURCE_DIR}/build/mingw64" CACHE PATH "Build folder of the 64-bit Windows build")
set(LUMIVEX_WIN32_DIR "${CMAKE_SOURCE_DIR}/build/mingw32" CACHE PATH "Build folder of the 32-bit Windows build")
set(LUMIVEX_DIST_DIR "${CMAKE_SOURCE_DIR}/dist" CACHE PATH "Where make dist writes the release files")
set(LUMIVEX_MAINTAINER "the Lumivex authors <lumivex@example.org>" CACHE STRING
    "Maintainer of the Debian package: name <address>")

set(dist_command ${LUMIVEX_PYTHON} ${CMAKE_SOURCE_DIR}/scripts/dist.py
  --version ${LUMIVEX_VERSION} --source ${CMAKE_SOURCE_DIR} --out ${LUMIVEX_DIST_DIR}
  --scr32 ${LUMIVEX_WIN32_DIR}/lumivex.scr --scr64 ${LUMIVEX_WIN64_DIR}/lumivex64.scr --site ${LUMIVEX_WEB_SITE})

# The Debian package holds what the Linux saver's install rules install; without that saver there
# is nothing to package and CPack is left out.
if(TARGET lumivex)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME lumivex)
  set(CPACK_PACKAGE_VERSION ${LUMIVEX_VERSION})
  set(CPACK_PACKAGE_VENDOR "the Lumivex authors")
  set(CPACK_PACKAGE_CONTACT "${LUMIVEX_MAINTAINER}")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${LUMIVEX_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION x11)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # dpkg-shlibdeps gives the Depends: both client libraries (Xlib and Xext, libwayland-client), and
  # libpng and giflib for lumivex-render's pictures.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xscreensaver | xsecurelock")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "IFS fractal screen saver
Lumivex draws fractals given as iterated function systems (a fern, Sierpinski
triangles and carpets, dragon curves, spirals, trees and more) with the chaos
game, and morphs each fractal smoothly into the next.
.
It runs as an XScreenSaver hack, as an xsecurelock saver, as a live wallpaper
on a Wayland desktop's background layer, or in a window or full screen on an
X11 or Wayland desktop. The fractals come from a plain-text definition
file that anyone can extend.
.
lumivex-render, the author's tool, runs the same saver without a window: it
checks a definition file and fits its boxes, and writes the frames as PNG
pictures or an animated GIF.")

  # What Debian asks of every package: the copyright, and the changelog of a native package. The
  # changelog is dated when it is installed: SOURCE_DATE_EPOCH (make dist sets it to the last
  # commit's time, as for the zips), else the last commit's time at the configure.
  execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct OUTPUT_VARIABLE commit_epoch
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE git_failed)
  if(git_failed OR NOT commit_epoch MATCHES "^[0-9]+$")
    set(commit_epoch 1767225600)  # 2026-01-01, as scripts/dist.py when git gives nothing
  endif()
  file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/install_changelog.cmake CONTENT [==[
# The Debian changelog, written into the installed tree with the release's date.
set(epoch "$ENV{SOURCE_DATE_EPOCH}")
if(NOT epoch MATCHES "^[0-9]+$")
  set(ENV{SOURCE_DATE_EPOCH} "@commit_epoch@")
endif()
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)  # from SOURCE_DATE_EPOCH
set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
set(changelog "${CMAKE_INSTALL_PREFIX}/share/doc/lumivex/changelog")
file(MAKE_DIRECTORY "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/share/doc/lumivex")
file(WRITE "$ENV{DESTDIR}${changelog}" "lumivex (@LUMIVEX_VERSION@) unstable; urgency=medium

  * Release @LUMIVEX_VERSION@: see CHANGELOG.md in the source.

 -- @LUMIVEX_MAINTAINER@  ${changelog_date}
")
execute_process(COMMAND gzip -9nf "$ENV{DESTDIR}${changelog}" RESULT_VARIABLE failed)  # -n: no name or time inside
if(failed)
  message(FATAL_ERROR "gzip of the changelog failed")
endif()
file(CHMOD "$ENV{DESTDIR}${changelog}.gz" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${changelog}.gz")
message(STATUS "Installing: $ENV{DESTDIR}${changelog}.gz")
]==] @ONLY)
  install(CODE "include(\"${CMAKE_CURRENT_BINARY_DIR}/install_changelog.cmake\")")
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/debian/copyright DESTINATION share/doc/lumivex
          PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  include(CPack)
  list(APPEND dist_command --deb-config ${CMAKE_BINARY_DIR}/CPackConfig.cmake)
endif()

add_custom_target(dist COMMAND ${dist_command} WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} USES_TERMINAL VERBATIM)
