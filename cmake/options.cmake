# Warnings for every target of the project, set in one place.
function(ondaria_set_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
endfunction()

# Build type "Sanitize": AddressSanitizer and UndefinedBehaviorSanitizer, used by
# the test command.
set(CMAKE_C_FLAGS_SANITIZE "-O1 -g -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
    CACHE STRING "" FORCE)
set(CMAKE_CXX_FLAGS_SANITIZE "${CMAKE_C_FLAGS_SANITIZE}" CACHE STRING "" FORCE)
set(CMAKE_EXE_LINKER_FLAGS_SANITIZE "-fsanitize=address,undefined" CACHE STRING "" FORCE)
set(CMAKE_SHARED_LINKER_FLAGS_SANITIZE "-fsanitize=address,undefined" CACHE STRING "" FORCE)

# One static library per source directory; every .cpp in the directory belongs
# to it, so a new module needs no change here.
function(ondaria_library name dir)
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  if(NOT sources)
    # A layer that has no code yet still exists as a target so the link order
    # stays the same as it grows.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARGN})
    return()
  endif()
  add_library(${name} STATIC ${sources})
  ondaria_set_options(${name})
  target_link_libraries(${name} PUBLIC ${ARGN})
endfunction()

# Sanitizer defaults linked into every executable (leak detection on, the
# suppressions of cmake/leak_suppressions.txt). Harmless in other builds:
# nothing calls these functions unless a sanitizer runtime is present.
set(ondaria_leak_file ${CMAKE_CURRENT_LIST_DIR}/leak_suppressions.txt)
file(READ ${ondaria_leak_file} ONDARIA_LEAK_SUPPRESSIONS)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ondaria_leak_file})
configure_file(${CMAKE_CURRENT_LIST_DIR}/sanitizer_defaults.cpp.in
               ${CMAKE_BINARY_DIR}/generated/sanitizer_defaults.cpp @ONLY)
add_library(ondaria_sanitizer_defaults OBJECT ${CMAKE_BINARY_DIR}/generated/sanitizer_defaults.cpp)

# Every executable of the project (program, tests, tools, benchmarks).
function(ondaria_executable target)
  target_link_libraries(${target} PRIVATE ondaria_sanitizer_defaults)
endfunction()
