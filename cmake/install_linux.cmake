# The Linux saver's installed files that depend on the install itself, made when it runs (cmake
# --install, make install, CPack): the manual pages, which name the installed places, and the copy
# of lumivex.xml in the one folder XScreenSaver's settings dialog reads. Included by the install
# script after install_linux_settings.cmake (written by the configure).
cmake_path(SET prefix NORMALIZE "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "(.)/$" "\\1" prefix "${prefix}")

# A file written straight into the installed tree, listed in the install manifest as file(INSTALL)
# lists what it copies.
macro(lumivex_installed_file path)
  file(CHMOD "$ENV{DESTDIR}${path}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${path}")
  message(STATUS "Installing: $ENV{DESTDIR}${path}")
endmacro()

# A manual page with the prefix written in, compressed without a name or time inside.
function(lumivex_manual_page source section)
  get_filename_component(name "${source}" NAME)
  set(folder "${prefix}/${LUMIVEX_MANDIR}/man${section}")
  file(MAKE_DIRECTORY "$ENV{DESTDIR}${folder}")
  configure_file("${source}" "$ENV{DESTDIR}${folder}/${name}" @ONLY)
  execute_process(COMMAND gzip -9nf "$ENV{DESTDIR}${folder}/${name}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip of the manual page ${name} failed")
  endif()
  lumivex_installed_file("${folder}/${name}.gz")
  set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()

# roff reads a plain "-" as a hyphen: paths in the pages take "\-".
function(lumivex_roff_path variable path)
  string(REPLACE "-" "\\-" path "${path}")
  set(${variable} "${path}" PARENT_SCOPE)
endfunction()

set(dialog_file "${LUMIVEX_XSCREENSAVER_CONFIG}/lumivex.xml")
lumivex_roff_path(LUMIVEX_MAN_HACK "${prefix}/${LUMIVEX_HACKDIR}/lumivex")
lumivex_roff_path(LUMIVEX_MAN_INI "${prefix}/${LUMIVEX_DATADIR}/lumivex/lumivex.ini")
lumivex_roff_path(LUMIVEX_MAN_XML "${dialog_file}")
# XScreenSaver finds a hack in /usr/libexec/xscreensaver by its name; elsewhere it needs the path.
if("${prefix}/${LUMIVEX_HACKDIR}" STREQUAL "/usr/libexec/xscreensaver")
  set(LUMIVEX_MAN_XSCREENSAVER_COMMAND "lumivex")
else()
  set(LUMIVEX_MAN_XSCREENSAVER_COMMAND "${LUMIVEX_MAN_HACK}")
endif()
lumivex_manual_page("${LUMIVEX_SOURCE}/resources/linux/lumivex.6" 6)
lumivex_manual_page("${LUMIVEX_SOURCE}/resources/linux/lumivex-render.1" 1)

# The settings dialog looks for descriptions in its own folder only, whatever the prefix: an
# install elsewhere puts a copy there too. Without DESTDIR a user who cannot write that folder
# (an install under ~/.local) gets a warning instead of a failed install.
if(NOT "${prefix}/${LUMIVEX_DATADIR}/xscreensaver/config" STREQUAL "${LUMIVEX_XSCREENSAVER_CONFIG}")
  set(writable TRUE)
  if("$ENV{DESTDIR}" STREQUAL "")
    set(existing "${LUMIVEX_XSCREENSAVER_CONFIG}")
    while(NOT IS_DIRECTORY "${existing}")
      get_filename_component(existing "${existing}" DIRECTORY)
    endwhile()
    execute_process(COMMAND test -w "${existing}" RESULT_VARIABLE not_writable)
    if(not_writable)
      set(writable FALSE)
    endif()
  endif()
  if(writable)
    file(INSTALL DESTINATION "${LUMIVEX_XSCREENSAVER_CONFIG}" TYPE FILE
         PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
         FILES "${LUMIVEX_SOURCE}/resources/linux/lumivex.xml")
  else()
    message(WARNING "XScreenSaver's settings dialog reads descriptions only from ${LUMIVEX_XSCREENSAVER_CONFIG}, "
                    "which this user cannot write: Lumivex's settings page stays empty until "
                    "${prefix}/${LUMIVEX_DATADIR}/xscreensaver/config/lumivex.xml is copied there as root.")
  endif()
endif()
