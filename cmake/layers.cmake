# The layers of the game, each a target that sees only the headers of the layers beneath it.
#
# Every layer publishes its folder through an include root of its own that holds just that folder
# (a link to it), so that "init/init.h" is found by the layers that link init and by no others: an
# include of a layer above fails to compile. Game layers also get cmake/no-sdl first on their
# include path, whose SDL.h and SDL2/SDL.h stop the build with a message.

# Makes TARGET publish the source folder FOLDER as "FOLDER/...".
function(vantor_publish_folder target folder)
    set(root "${CMAKE_BINARY_DIR}/include-roots/${folder}")
    if(NOT EXISTS "${root}/${folder}")
        file(MAKE_DIRECTORY "${root}")
        file(CREATE_LINK "${PROJECT_SOURCE_DIR}/${folder}" "${root}/${folder}" SYMBOLIC)
    endif()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        target_include_directories(${target} INTERFACE "${root}")
    else()
        target_include_directories(${target} PUBLIC "${root}")
    endif()
endfunction()

# Game code never includes SDL: the guard headers stand before any SDL folder on its include path.
function(vantor_without_sdl target)
    target_include_directories(${target} BEFORE PRIVATE "${PROJECT_SOURCE_DIR}/cmake/no-sdl")
endfunction()
