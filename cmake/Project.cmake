# Helpers shared by every folder.
#
# project_library(NAME [FLAT] [NO_UNITY] [LAYERS ...] [DEPS ...] [PRIVATE_DEPS ...]): a
# library (static, or shared in the sanitizer and fuzz builds: PROJECT_LIBRARY_TYPE) from every .cpp below the calling folder (subfolders included; FLAT: the folder's
# own files only, its subfolders being libraries of their own), public include root =
# repository root. LAYERS: the order of the library's subfolders, lowest first, "." naming
# the files at the folder's root; a file may include its own library's headers only from its
# own place or one before it (every subfolder must be listed).
# Files named *_main.cpp are left out (programs build them themselves). With UNITY=<n>,
# the library compiles as unity sources of at most n files each, unless it says NO_UNITY.
function(project_library name)
  cmake_parse_arguments(PL "FLAT;NO_UNITY" "" "LAYERS;DEPS;PRIVATE_DEPS" ${ARGN})
  if(PL_FLAT)
    file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  else()
    file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  endif()
  list(FILTER srcs EXCLUDE REGEX "_main\\.cpp$")
  add_library(${name} ${PROJECT_LIBRARY_TYPE} ${srcs})
  if(PROJECT_LIBRARY_TYPE STREQUAL "SHARED" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # Every symbol a shared library uses comes from the libraries it links, as the static
    # link order demands of the ordinary build. (Clang links the sanitizers' run-time into
    # programs only, so its shared libraries leave those symbols to the program.)
    target_link_options(${name} PRIVATE LINKER:-z,defs)
  endif()
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${PL_DEPS} PRIVATE ${PL_PRIVATE_DEPS})
  if(UNITY AND NOT PL_NO_UNITY)
    set_target_properties(${name} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${UNITY})
  endif()

  # The folders this library may include from: its own and those of every project
  # library it links, directly or through them.
  file(RELATIVE_PATH folder ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  set(folders ${folder})
  foreach(dep IN LISTS PL_DEPS PL_PRIVATE_DEPS)
    get_property(dep_folders GLOBAL PROPERTY PROJECT_FOLDERS_${dep})
    list(APPEND folders ${dep_folders})
  endforeach()
  list(REMOVE_DUPLICATES folders)
  set_property(GLOBAL PROPERTY PROJECT_FOLDERS_${name} ${folders})
  if(PL_FLAT)
    file(GLOB checked CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h
         ${CMAKE_CURRENT_SOURCE_DIR}/*.inc)
  else()
    file(GLOB_RECURSE checked CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h
         ${CMAKE_CURRENT_SOURCE_DIR}/*.inc)
  endif()
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${name}.layers)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} "-DFOLDERS=${folders}" "-DFILES=${checked}" -DSTAMP=${stamp}
            -DFOLDER=${folder} "-DLAYERS=${PL_LAYERS}" -DROOT=${CMAKE_SOURCE_DIR}
            -P ${CMAKE_SOURCE_DIR}/cmake/LayerCheck.cmake
    DEPENDS ${checked} ${CMAKE_SOURCE_DIR}/cmake/LayerCheck.cmake
    COMMENT "Checking the includes of ${name} against the layer order"
    VERBATIM)
  add_custom_target(${name}_layers DEPENDS ${stamp})
  add_dependencies(${name} ${name}_layers)
  add_dependencies(libraries ${name})
endfunction()

# project_umbrella(NAME LIBRARIES...): an interface library linking the given ones, for
# programs and tests that want a whole top folder.
function(project_umbrella name)
  add_library(${name} INTERFACE)
  target_link_libraries(${name} INTERFACE ${ARGN})
  set(folders "")
  foreach(dep IN LISTS ARGN)
    get_property(dep_folders GLOBAL PROPERTY PROJECT_FOLDERS_${dep})
    list(APPEND folders ${dep_folders})
  endforeach()
  list(REMOVE_DUPLICATES folders)
  set_property(GLOBAL PROPERTY PROJECT_FOLDERS_${name} ${folders})
endfunction()

# project_lua_package(TARGET PACKAGE [HOOKS FILE]): runs tolua++5.1 on a binding package
# file at build time and compiles the generated C++ into TARGET, with the script number
# shim (engine/script/LuaPackageShim.h) included first, so every number crossing the
# package's bindings follows the engine's float rule. HOOKS names a Lua file the generator
# loads first (tolua++5.1 -L: the binding frame's hooks, bindings/frame/tolua_hooks.lua).
# The generated unit compiles with TOLUA_RELEASE: single forms read their arguments
# untested and overloads hand over to their earlier form. The open function is
# tolua_<name>_open, <name> being the package file's name without its extension. The
# generated code is never edited and never committed; one unit per package.
function(project_lua_package target package)
  cmake_parse_arguments(LP "" "HOOKS" "" ${ARGN})
  find_program(TOLUA_PROGRAM tolua++5.1 REQUIRED)
  get_filename_component(pkg ${package} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  get_filename_component(name ${pkg} NAME_WE)
  get_filename_component(dir ${pkg} DIRECTORY)
  set(outdir ${CMAKE_CURRENT_BINARY_DIR}/lua_packages/${target})
  set(out ${outdir}/${name}.cpp)
  file(GLOB pkg_parts CONFIGURE_DEPENDS ${dir}/*.pkg)  # files the package may $pfile
  set(hook_args "")
  set(hook_depends "")
  if(LP_HOOKS)
    get_filename_component(hooks ${LP_HOOKS} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    set(hook_args -L ${hooks})
    set(hook_depends ${hooks})
  endif()
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${outdir}
    COMMAND ${TOLUA_PROGRAM} ${hook_args} -n ${name} -o ${out} ${pkg}
    WORKING_DIRECTORY ${dir}
    DEPENDS ${pkg} ${pkg_parts} ${hook_depends}
    COMMENT "Generating the ${name} script bindings"
    VERBATIM)
  target_sources(${target} PRIVATE ${out})
  # Generated code: its own includes resolve beside the package file; its warnings are
  # not ours to fix. A generated unit never joins a unity source (its statics would clash)
  # nor takes a precompiled header (the shim comes first).
  set_source_files_properties(${out} PROPERTIES
    INCLUDE_DIRECTORIES ${dir}
    COMPILE_DEFINITIONS TOLUA_RELEASE
    SKIP_UNITY_BUILD_INCLUSION ON
    SKIP_PRECOMPILE_HEADERS ON
    COMPILE_OPTIONS "-include;${CMAKE_SOURCE_DIR}/engine/script/LuaPackageShim.h;-w")
endfunction()
