# The core's layers, each its own static library. Dependencies point downward
# only, and korvalen_layer() refuses at configure time a source that includes a
# header of a layer it does not stand on, so a lower layer can never reach a
# higher one, even through a header that needs no linking.
set(KORVALEN_LAYER_DIRS text platform config words match run results cli app)

function(korvalen_layer name dir)
    cmake_parse_arguments(L "" "" "SOURCES;DEPENDS" ${ARGN})
    add_library(${name} STATIC ${L_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC korvalen_warnings)
    set(allowed ${dir})
    foreach(dep IN LISTS L_DEPENDS)
        target_link_libraries(${name} PUBLIC korvalen_${dep})
        get_target_property(dep_allowed korvalen_${dep} KORVALEN_LAYERS)
        list(APPEND allowed ${dep_allowed})
    endforeach()
    list(REMOVE_DUPLICATES allowed)
    set_target_properties(${name} PROPERTIES KORVALEN_LAYERS "${allowed}")
    file(GLOB files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${dir}/*.cpp
         ${PROJECT_SOURCE_DIR}/${dir}/*.hpp)
    foreach(f IN LISTS files)
        file(STRINGS ${f} includes REGEX "^#include \"[a-z_]+/")
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^#include \"([a-z_]+)/.*" "\\1" layer "${line}")
            if(layer IN_LIST KORVALEN_LAYER_DIRS AND NOT layer IN_LIST allowed)
                message(FATAL_ERROR "${f}: ${dir}/ may not include ${layer}/ "
                                    "(it stands on: ${allowed})")
            endif()
        endforeach()
    endforeach()
endfunction()
