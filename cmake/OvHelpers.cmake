# ov_object_library(name SOURCES ... [LIBS ...]): one folder's object library.
function(ov_object_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_library(${name} OBJECT ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ov_settings_flags Qt6::Core Threads::Threads ${ARG_LIBS})
endfunction()
