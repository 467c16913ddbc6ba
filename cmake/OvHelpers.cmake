# ov_object_library(name SOURCES ... [LIBS ...]): one folder's object library.
function(ov_object_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_library(${name} OBJECT ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ov_settings_flags Qt6::Core Threads::Threads ${ARG_LIBS})
endfunction()

# Adds every direct subfolder of the current folder that has a CMakeLists.txt, so a new
# test or benchmark folder needs no edit here.
function(ov_add_subfolders)
    file(GLOB children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
    foreach(dir IN LISTS children)
        if(IS_DIRECTORY ${dir} AND EXISTS ${dir}/CMakeLists.txt)
            add_subdirectory(${dir})
        endif()
    endforeach()
endfunction()
