# The help page beside the executables of the build tree, and the installation:
#
#   <program folder>/ombrevault, ombrevault-cli, help/help.html, ombrevault.png
#   <prefix>/bin/ombrevault, ombrevault-cli         symbolic links into the program folder
#   <prefix>/share/applications/ombrevault.desktop
#   <prefix>/share/icons/hicolor/<N>x<N>/apps/ombrevault.png
#
# The program folder is /opt/ombrevault for the system prefixes /usr/local and /usr, and
# <prefix>/opt/ombrevault for any other prefix, so that a tree installed into a scratch
# prefix is complete in itself. OV_INSTALL_PROGRAM_DIR names another folder. The
# folders are worked out when installing, so `cmake --install <build> --prefix <p>` and
# DESTDIR staging both work. The program finds its help page and icon through the real
# folder of its executable, so the launchers in bin/ reach them too.

set(OV_INSTALL_PROGRAM_DIR "" CACHE PATH
    "The program folder (empty: /opt/ombrevault, or <prefix>/opt/ombrevault for other prefixes)")
set(OV_ICON_SIZES 16 22 24 32 48 64 128 256)

# The help page in the build tree's program folder, kept up to date at every build.
set(OV_HELP_SOURCE ${PROJECT_SOURCE_DIR}/help/help.html)
set(OV_HELP_BUILT ${CMAKE_BINARY_DIR}/bin/help/help.html)
add_custom_command(OUTPUT ${OV_HELP_BUILT}
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/bin/help
                   COMMAND ${CMAKE_COMMAND} -E copy ${OV_HELP_SOURCE} ${OV_HELP_BUILT}
                   DEPENDS ${OV_HELP_SOURCE}
                   COMMENT "Copying the help page beside the program")
add_custom_target(ov_help_page ALL DEPENDS ${OV_HELP_BUILT})
if(TARGET ombrevault)
    add_dependencies(ombrevault ov_help_page)
endif()

if(NOT TARGET ombrevault OR NOT TARGET ombrevault-cli)
    return()
endif()

install(CODE "
    set(ov_prefix \"\${CMAKE_INSTALL_PREFIX}\")
    string(REGEX REPLACE \"/+$\" \"\" ov_prefix_trimmed \"\${ov_prefix}\")
    set(ov_program_dir \"${OV_INSTALL_PROGRAM_DIR}\")
    if(NOT ov_program_dir)
        if(ov_prefix_trimmed STREQUAL \"/usr/local\" OR ov_prefix_trimmed STREQUAL \"/usr\")
            set(ov_program_dir /opt/ombrevault)
        else()
            set(ov_program_dir \"\${ov_prefix_trimmed}/opt/ombrevault\")
        endif()
    endif()
    set(ov_bin_dir \"\${ov_prefix_trimmed}/${CMAKE_INSTALL_BINDIR}\")
    set(ov_share_dir \"\${ov_prefix_trimmed}/${CMAKE_INSTALL_DATAROOTDIR}\")
    message(STATUS \"Program folder: \${ov_program_dir}\")

    file(INSTALL DESTINATION \"\${ov_program_dir}\" TYPE EXECUTABLE
         FILES \"$<TARGET_FILE:ombrevault>\" \"$<TARGET_FILE:ombrevault-cli>\")
    file(INSTALL DESTINATION \"\${ov_program_dir}/help\" TYPE FILE
         FILES \"${OV_HELP_SOURCE}\")
    file(INSTALL DESTINATION \"\${ov_program_dir}\" TYPE FILE
         FILES \"${PROJECT_SOURCE_DIR}/data/icons/ombrevault-256.png\"
         RENAME ombrevault.png)
    file(INSTALL DESTINATION \"\${ov_share_dir}/applications\" TYPE FILE
         FILES \"${PROJECT_SOURCE_DIR}/data/ombrevault.desktop\")
    foreach(size ${OV_ICON_SIZES})
        file(INSTALL DESTINATION \"\${ov_share_dir}/icons/hicolor/\${size}x\${size}/apps\"
             TYPE FILE FILES \"${PROJECT_SOURCE_DIR}/data/icons/ombrevault-\${size}.png\"
             RENAME ombrevault.png)
    endforeach()

    # The launchers point at the final place, not at the staging copy under DESTDIR.
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${ov_bin_dir}\")
    foreach(program ombrevault ombrevault-cli)
        set(link \"\$ENV{DESTDIR}\${ov_bin_dir}/\${program}\")
        message(STATUS \"Installing: \${link} -> \${ov_program_dir}/\${program}\")
        file(REMOVE \"\${link}\")
        file(CREATE_LINK \"\${ov_program_dir}/\${program}\" \"\${link}\" SYMBOLIC)
        list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${ov_bin_dir}/\${program}\")
    endforeach()
" COMPONENT ombrevault)

# Removes what the last installation from this build folder put in place (the list
# CMake keeps in install_manifest.txt), then the program folder when it is left empty.
file(WRITE ${CMAKE_BINARY_DIR}/ov_uninstall.cmake [=[
if(NOT EXISTS "${MANIFEST}")
    message(FATAL_ERROR "Nothing to remove: ${MANIFEST} is missing (install first)")
endif()
file(STRINGS "${MANIFEST}" ov_files)
set(ov_folders)
foreach(ov_file IN LISTS ov_files)
    if(EXISTS "$ENV{DESTDIR}${ov_file}" OR IS_SYMLINK "$ENV{DESTDIR}${ov_file}")
        message(STATUS "Removing: $ENV{DESTDIR}${ov_file}")
        file(REMOVE "$ENV{DESTDIR}${ov_file}")
    endif()
    get_filename_component(ov_folder "${ov_file}" DIRECTORY)
    if(ov_folder MATCHES "/ombrevault(/help)?$")
        list(APPEND ov_folders "${ov_folder}")
    endif()
endforeach()
list(REMOVE_DUPLICATES ov_folders)
list(SORT ov_folders ORDER DESCENDING)
foreach(ov_folder IN LISTS ov_folders)
    file(GLOB ov_left "$ENV{DESTDIR}${ov_folder}/*")
    if(NOT ov_left)
        file(REMOVE_RECURSE "$ENV{DESTDIR}${ov_folder}")
    endif()
endforeach()
]=])
add_custom_target(uninstall
    COMMAND ${CMAKE_COMMAND} -DMANIFEST=${CMAKE_BINARY_DIR}/install_manifest.txt
            -P ${CMAKE_BINARY_DIR}/ov_uninstall.cmake
    COMMENT "Removing the installed files")
