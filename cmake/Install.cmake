# The help page beside the executables of the build tree, and the installation (the
# folders of GNUInstallDirs below the prefix):
#
#   <prefix>/bin/ombrevault, ombrevault-cli
#   <prefix>/share/ombrevault/help/help.html, ombrevault.png
#                                                   found from bin/ at run time
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
# Everything belongs to the component "ombrevault". The Debian package (debian/) installs
# with these same rules.

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
endforeach()
set(OV_CHANGELOG ${CMAKE_BINARY_DIR}/doc/changelog.gz)
ov_gzip_file(${PROJECT_SOURCE_DIR}/debian/changelog ${OV_CHANGELOG} OV_COMPRESSED)
add_custom_target(ov_compressed_files ALL DEPENDS ${OV_COMPRESSED})

# zsh reads the completion of packages from vendor-completions below /usr, and that of
# anything installed elsewhere from site-functions. Worked out when installing, so that
# `cmake --install <build> --prefix <p>` picks the right one.
install(CODE "
    string(REGEX REPLACE \"/+$\" \"\" ov_prefix_trimmed \"\${CMAKE_INSTALL_PREFIX}\")
    if(ov_prefix_trimmed STREQUAL \"/usr\")
        set(ov_zsh_dir ${CMAKE_INSTALL_DATAROOTDIR}/zsh/vendor-completions)
    else()
        set(ov_zsh_dir ${CMAKE_INSTALL_DATAROOTDIR}/zsh/site-functions)
    endif()
" ALL_COMPONENTS)

# The folders an installation may have to make, below the prefix. Those missing before
# the first installation are noted in the build folder, so that uninstalling takes away
# the empty ones again and leaves alone those that were there before.
set(OV_SHARE ${CMAKE_INSTALL_DATAROOTDIR})
set(OV_PROGRAM_DATA ${CMAKE_INSTALL_DATADIR}/ombrevault)
set(OV_INSTALL_FOLDERS ${CMAKE_INSTALL_BINDIR} ${OV_PROGRAM_DATA}/help ${OV_SHARE}/applications
    ${OV_SHARE}/metainfo ${OV_SHARE}/kio/servicemenus ${OV_SHARE}/nemo/actions
    ${OV_SHARE}/bash-completion/completions ${OV_SHARE}/zsh/vendor-completions
    ${OV_SHARE}/zsh/site-functions ${CMAKE_INSTALL_DOCDIR})
foreach(size ${OV_ICON_SIZES})
    list(APPEND OV_INSTALL_FOLDERS ${OV_SHARE}/icons/hicolor/${size}x${size}/apps)
endforeach()
foreach(page IN LISTS OV_MAN_PAGES)
    string(REGEX REPLACE "^.*\\.([1-9])$" "\\1" section ${page})
    list(APPEND OV_INSTALL_FOLDERS ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
list(REMOVE_DUPLICATES OV_INSTALL_FOLDERS)
set(OV_FOLDER_RECORD ${CMAKE_BINARY_DIR}/install_folders.txt)
install(CODE "
    set(ov_made)
    if(EXISTS \"${OV_FOLDER_RECORD}\")
        file(STRINGS \"${OV_FOLDER_RECORD}\" ov_made)
    endif()
    foreach(ov_folder ${OV_INSTALL_FOLDERS})
        if(NOT IS_ABSOLUTE \"\${ov_folder}\")
            set(ov_folder \"\${ov_prefix_trimmed}/\${ov_folder}\")
        endif()
        while(NOT EXISTS \"\$ENV{DESTDIR}\${ov_folder}\" AND NOT ov_folder STREQUAL \"/\")
            list(APPEND ov_made \"\$ENV{DESTDIR}\${ov_folder}\")
            get_filename_component(ov_folder \"\${ov_folder}\" DIRECTORY)
        endwhile()
    endforeach()
    list(REMOVE_DUPLICATES ov_made)
    list(JOIN ov_made \"\\n\" ov_made)
    file(WRITE \"${OV_FOLDER_RECORD}\" \"\${ov_made}\\n\")
" COMPONENT ombrevault)

# Nothing is installed before the record is written.
install(TARGETS ombrevault ombrevault-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT ombrevault)
foreach(page IN LISTS OV_MAN_PAGES)
    get_filename_component(name ${page} NAME)
    string(REGEX REPLACE "^.*\\.([1-9])$" "\\1" section ${name})
    install(FILES ${CMAKE_BINARY_DIR}/man/man${section}/${name}.gz
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ombrevault)
endforeach()
install(FILES ${OV_HELP_SOURCE} DESTINATION ${OV_PROGRAM_DATA}/help COMPONENT ombrevault)
install(FILES ${OV_DATA}/icons/ombrevault-256.png DESTINATION ${OV_PROGRAM_DATA}
        RENAME ombrevault.png COMPONENT ombrevault)

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
# only when it is executable: an installation into a user's own prefix needs the bit.
# One owned by root needs none, and the Debian package drops it.
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
install(FILES ${PROJECT_SOURCE_DIR}/debian/copyright ${OV_CHANGELOG}
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT ombrevault)

# Removes what the last installation from this build folder put in place (the list
# CMake keeps in install_manifest.txt), then the folders it made once they are empty.
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
    # The program's own folders go however they came to be.
    get_filename_component(ov_folder "${ov_file}" DIRECTORY)
    if(ov_folder MATCHES "/ombrevault(/help)?$")
        list(APPEND ov_folders "$ENV{DESTDIR}${ov_folder}")
    endif()
endforeach()
# The record holds full paths, staging folder included; only the folders above the files
# just removed are this installation's.
if(EXISTS "${FOLDERS}")
    file(STRINGS "${FOLDERS}" ov_made)
    foreach(ov_folder IN LISTS ov_made)
        foreach(ov_file IN LISTS ov_files)
            string(FIND "$ENV{DESTDIR}${ov_file}" "${ov_folder}/" ov_at)
            if(ov_at EQUAL 0)
                list(APPEND ov_folders "${ov_folder}")
                break()
            endif()
        endforeach()
    endforeach()
endif()
list(REMOVE_DUPLICATES ov_folders)
# The deepest first, so that a parent is empty when its turn comes.
list(SORT ov_folders ORDER DESCENDING)
foreach(ov_folder IN LISTS ov_folders)
    file(GLOB ov_left LIST_DIRECTORIES true "${ov_folder}/*" "${ov_folder}/.*")
    if(IS_DIRECTORY "${ov_folder}" AND NOT IS_SYMLINK "${ov_folder}" AND NOT ov_left)
        message(STATUS "Removing: ${ov_folder}/")
        file(REMOVE_RECURSE "${ov_folder}")
    endif()
endforeach()
]=])
add_custom_target(uninstall
    COMMAND ${CMAKE_COMMAND} -DMANIFEST=${CMAKE_BINARY_DIR}/install_manifest.txt
            -DFOLDERS=${OV_FOLDER_RECORD} -P ${CMAKE_BINARY_DIR}/ov_uninstall.cmake
    COMMENT "Removing the installed files")
