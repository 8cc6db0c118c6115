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
