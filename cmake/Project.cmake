# Helpers shared by every folder.
#
# project_library(NAME [DEPS ...]): a static library from every .cpp below the
# calling folder (subfolders included), public include root = repository root.
# Files named *_main.cpp are left out (programs build them themselves).
function(project_library name)
  cmake_parse_arguments(PL "" "" "DEPS;PRIVATE_DEPS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  list(FILTER srcs EXCLUDE REGEX "_main\\.cpp$")
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${PL_DEPS} PRIVATE ${PL_PRIVATE_DEPS})
endfunction()
