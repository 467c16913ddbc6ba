# The help page beside the executables of the build tree, and the installation:
#
#   <program folder>/ombrevault, ombrevault-cli, help/help.html, ombrevault.png
#   <prefix>/bin/ombrevault, ombrevault-cli         symbolic links into the program folder
#   <prefix>/share/applications/ombrevault.desktop  the menu entry
#   <prefix>/share/icons/hicolor/<N>x<N>/apps/ombrevault.png
#   <prefix>/share/metainfo/<id>.metainfo.xml       AppStream data
#   <prefix>/share/kio/servicemenus/, share/nemo/actions/
#                                                   "Destroy with Ombrevault" in Dolphin, Nemo
#   <prefix>/share/man/man<N>/*.<N>.gz              every page in data/man
#   <prefix>/share/bash-completion/completions/ombrevault-cli
#   <prefix>/share/zsh/vendor-completions/_ombrevault-cli   (prefix /usr; zsh/site-functions
#                                                   for any other prefix: where zsh looks)
#   <prefix>/share/doc/ombrevault/copyright, changelog.gz
#
# The program folder is /opt/ombrevault for the system prefixes /usr/local and /usr, and
# <prefix>/opt/ombrevault for any other prefix, so that a tree installed into a scratch
# prefix is complete in itself. OV_INSTALL_PROGRAM_DIR names another folder. The
# folders are worked out when installing, so `cmake --install <build> --prefix <p>` and
# DESTDIR staging both work. The program finds its help page and icon through the real
# folder of its executable, so the launchers in bin/ reach them too.
#
# Everything belongs to the component "ombrevault"; the component "debian" adds what only
# the Debian package carries (cmake/Package.cmake).

set(OV_INSTALL_PROGRAM_DIR "" CACHE PATH
    "The program folder (empty: /opt/ombrevault, or <prefix>/opt/ombrevault for other prefixes)")
set(OV_ICON_SIZES 16 22 24 32 48 64 128 256)
set(OV_DATA ${PROJECT_SOURCE_DIR}/data)

# The help page in the build tree's program folder, kept up to date at every build.
set(OV_HELP_SOURCE ${PROJECT_SOURCE_DIR}/help/help.html)
set(OV_HELP_BUILT ${CMAKE_BINARY_DIR}/bin/help/help.html)
add_custom_command(OUTPUT ${OV_HELP_BUILT}
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/bin/help
                   COMMAND ${CMAKE_COMMAND} -E copy ${OV_HELP_SOURCE} ${OV_HELP_BUILT}
                   DEPENDS ${OV_HELP_SOURCE}
                   COMMENT "Copying the help page beside the program")
add_custom_target(ov_help_page ALL DEPENDS ${OV_HELP_BUILT})
add_dependencies(ombrevault ov_help_page)

# ov_gzip_file(<source> <compressed> <list>): compresses a file at build time as Debian
# wants it (best compression, no name or time stamp inside) and adds the result to <list>.
find_program(OV_GZIP gzip REQUIRED)
function(ov_gzip_file source compressed list)
    get_filename_component(name ${compressed} NAME_WLE)
    get_filename_component(folder ${compressed} DIRECTORY)
    add_custom_command(OUTPUT ${compressed}
                       COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
                       COMMAND ${CMAKE_COMMAND} -E copy ${source} ${folder}/${name}
                       COMMAND ${OV_GZIP} -9nf ${folder}/${name}
                       DEPENDS ${source} VERBATIM)
    set(${list} ${${list}} ${compressed} PARENT_SCOPE)
endfunction()

# Every manual page in data/man, by the section its name ends with.
set(OV_COMPRESSED)
file(GLOB OV_MAN_PAGES CONFIGURE_DEPENDS ${OV_DATA}/man/*.[1-9])
foreach(page IN LISTS OV_MAN_PAGES)
    get_filename_component(name ${page} NAME)
    string(REGEX REPLACE "^.*\\.([1-9])$" "\\1" section ${name})
    ov_gzip_file(${page} ${CMAKE_BINARY_DIR}/man/man${section}/${name}.gz OV_COMPRESSED)
    install(FILES ${CMAKE_BINARY_DIR}/man/man${section}/${name}.gz
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ombrevault)
endforeach()
set(OV_CHANGELOG ${CMAKE_BINARY_DIR}/doc/changelog.gz)
ov_gzip_file(${OV_DATA}/debian/changelog ${OV_CHANGELOG} OV_COMPRESSED)
add_custom_target(ov_compressed_files ALL DEPENDS ${OV_COMPRESSED})

# The folders of this installation, for every component's rules below. The program
# folder is absolute; the rules name it as "/${ov_program_subdir}" so that CMake takes
# it as it is instead of below the prefix.
install(CODE "
    string(REGEX REPLACE \"/+$\" \"\" ov_prefix_trimmed \"\${CMAKE_INSTALL_PREFIX}\")
    set(ov_program_dir \"${OV_INSTALL_PROGRAM_DIR}\")
    if(NOT ov_program_dir)
        if(ov_prefix_trimmed STREQUAL \"/usr/local\" OR ov_prefix_trimmed STREQUAL \"/usr\")
            set(ov_program_dir /opt/ombrevault)
        else()
            set(ov_program_dir \"\${ov_prefix_trimmed}/opt/ombrevault\")
        endif()
    endif()
    string(REGEX REPLACE \"^/+\" \"\" ov_program_subdir \"\${ov_program_dir}\")
    # zsh reads the completion of packages from vendor-completions below /usr, and that
    # of anything installed elsewhere from site-functions.
    if(ov_prefix_trimmed STREQUAL \"/usr\")
        set(ov_zsh_dir ${CMAKE_INSTALL_DATAROOTDIR}/zsh/vendor-completions)
    else()
        set(ov_zsh_dir ${CMAKE_INSTALL_DATAROOTDIR}/zsh/site-functions)
    endif()
    set(ov_bin_dir \"\${ov_prefix_trimmed}/${CMAKE_INSTALL_BINDIR}\")
" ALL_COMPONENTS)

install(TARGETS ombrevault ombrevault-cli RUNTIME DESTINATION "/\${ov_program_subdir}"
        COMPONENT ombrevault)
install(FILES ${OV_HELP_SOURCE} DESTINATION "/\${ov_program_subdir}/help" COMPONENT ombrevault)
install(FILES ${OV_DATA}/icons/ombrevault-256.png DESTINATION "/\${ov_program_subdir}"
        RENAME ombrevault.png COMPONENT ombrevault)

# The launchers point at the final place, not at the staging copy under DESTDIR.
install(CODE "
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${ov_bin_dir}\")
    foreach(program ombrevault ombrevault-cli)
        set(link \"\$ENV{DESTDIR}\${ov_bin_dir}/\${program}\")
        message(STATUS \"Installing: \${link} -> \${ov_program_dir}/\${program}\")
        file(REMOVE \"\${link}\")
        file(CREATE_LINK \"\${ov_program_dir}/\${program}\" \"\${link}\" SYMBOLIC)
        list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${ov_bin_dir}/\${program}\")
    endforeach()
" COMPONENT ombrevault)

set(OV_SHARE ${CMAKE_INSTALL_DATAROOTDIR})
install(FILES ${OV_DATA}/ombrevault.desktop DESTINATION ${OV_SHARE}/applications
        COMPONENT ombrevault)
foreach(size ${OV_ICON_SIZES})
    install(FILES ${OV_DATA}/icons/ombrevault-${size}.png
            DESTINATION ${OV_SHARE}/icons/hicolor/${size}x${size}/apps RENAME ombrevault.png
            COMPONENT ombrevault)
endforeach()
file(GLOB OV_METAINFO CONFIGURE_DEPENDS ${OV_DATA}/*.metainfo.xml)
install(FILES ${OV_METAINFO} DESTINATION ${OV_SHARE}/metainfo COMPONENT ombrevault)
# Dolphin (KDE Frameworks 5.85 and later, and 6) runs a service menu that a user owns
# only when it is executable.
install(FILES ${OV_DATA}/filemanager/ombrevault-destroy.desktop
        DESTINATION ${OV_SHARE}/kio/servicemenus COMPONENT ombrevault
        PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                    WORLD_READ WORLD_EXECUTE)
install(FILES ${OV_DATA}/filemanager/ombrevault-destroy.nemo_action
        DESTINATION ${OV_SHARE}/nemo/actions COMPONENT ombrevault)
install(FILES ${OV_DATA}/completion/ombrevault-cli.bash
        DESTINATION ${OV_SHARE}/bash-completion/completions RENAME ombrevault-cli
        COMPONENT ombrevault)
install(FILES ${OV_DATA}/completion/_ombrevault-cli DESTINATION "\${ov_zsh_dir}"
        COMPONENT ombrevault)
install(FILES ${OV_DATA}/debian/copyright ${OV_CHANGELOG}
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT ombrevault)

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
