# The Debian package: `cpack -G DEB` in the build folder makes
# ombrevault_<version>_<arch>.deb from the installation of cmake/Install.cmake with the
# prefix /usr (the program folder stays /opt/ombrevault).

# Only the package carries the lintian overrides.
install(FILES ${PROJECT_SOURCE_DIR}/data/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME ombrevault
        COMPONENT debian EXCLUDE_FROM_ALL)

# The maintainer script that purging runs, told the package's program folder.
set(OV_PACKAGE_PROGRAM_DIR "${OV_INSTALL_PROGRAM_DIR}")
if(NOT OV_PACKAGE_PROGRAM_DIR)
    set(OV_PACKAGE_PROGRAM_DIR /opt/ombrevault)
endif()
configure_file(${PROJECT_SOURCE_DIR}/data/debian/postrm.in ${CMAKE_BINARY_DIR}/debian/postrm
               @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
               GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ombrevault)
set(CPACK_PACKAGE_VENDOR "Tallowbrook Works")
set(CPACK_PACKAGE_CONTACT "Tallowbrook Works <support@tallowbrookworks.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "destroys files and the free space of volumes beyond recovery")
set(CPACK_PACKAGE_DESCRIPTION [=[
Ombrevault destroys data so that no recovery tool can bring it back. Its
window has two tools: the File Cleaner overwrites the files on its pending
list in place with fixed byte patterns, at one of three security levels,
optionally renames each to a throw-away name, and deletes it; the Disk
Cleaner fills the free space of a volume with a temporary file and deletes
it again, so that the remains of files deleted long ago are overwritten too.
.
Files reach the pending list through the window's buttons, by drag and drop,
or from the action Destroy with Ombrevault of Dolphin and Nemo; nothing is
destroyed until the delete button is pressed. ombrevault-cli runs the same
engine in a terminal.
.
Overwriting in place cannot reach the copies kept by copy-on-write file
systems, snapshots or flash memory; the help page explains what to do there.]=])
set(CPACK_PACKAGE_INSTALL_DIRECTORY ombrevault)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/COPYING)

# Installed below a staging folder with the real prefix, so that the program folder and
# the launchers' targets are the final ones. Only this project's two components go in:
# CPack then writes its own install_manifest_<component>.txt and leaves
# install_manifest.txt, the record of a real installation, alone.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${CMAKE_BINARY_DIR};${PROJECT_NAME};ombrevault;/"
    "${CMAKE_BINARY_DIR};${PROJECT_NAME};debian;/")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Beyond the libraries: the opener of the help page, and Qt's platform plugins, without
# which the window cannot open (libqt6gui6 only recommends them).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "xdg-utils, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
