# cmake -P LayerCheck.cmake -DFOLDERS=<own and allowed folders> -DFILES=<files> -DSTAMP=<file>
#                           [-DFOLDER=<own folder> -DLAYERS=<subfolder order> -DROOT=<source root>]
#
# Fails when one of FILES includes a project header from a folder outside FOLDERS (the
# library's own folder and those of the libraries it links), so an include against the
# layer order stops the build even where the linker would not notice (inline code,
# objects another library already pulled in). A header belongs to core/, platform/ or
# tools/ plus its first subfolder (core/fs/...) or, directly in core/, to "core"; in the
# other top folders to the top folder.
#
# With LAYERS (the library's subfolders, lowest first; "." for the files at its root), a
# file may include a header of its own library only from its own place in that order or
# one before it, so the subfolders of one library layer like libraries do. Folders that
# need each other share one place, written joined by '+' ("elements+recipes").
cmake_minimum_required(VERSION 3.25)
set(split_tops core platform tools)
set(project_tops platform core render engine scene sound ui net game bindings app tools)
set(bad "")
# The place of a path below FOLDER ("render/scene/X.h" -> "scene", "render/X.h" -> "."), or
# "" for a path outside it.
function(layer_place path out)
  set(place "")
  if(path MATCHES "^${FOLDER}/([^/]+)(/.*)?$")
    if(CMAKE_MATCH_2)
      set(place "${CMAKE_MATCH_1}")
    else()
      set(place ".")
    endif()
  endif()
  set(${out} "${place}" PARENT_SCOPE)
endfunction()

# The index in LAYERS of the place holding folder PLACE, or -1.
function(layer_index place out)
  set(i 0)
  foreach(entry IN LISTS LAYERS)
    string(REPLACE "+" ";" members "${entry}")
    if(place IN_LIST members)
      set(${out} ${i} PARENT_SCOPE)
      return()
    endif()
    math(EXPR i "${i} + 1")
  endforeach()
  set(${out} -1 PARENT_SCOPE)
endfunction()

foreach(f IN LISTS FILES)
  set(own_index -1)
  if(LAYERS)
    file(RELATIVE_PATH rel "${ROOT}" "${f}")
    layer_place("${rel}" own)
    layer_index("${own}" own_index)
    if(own_index LESS 0)
      string(APPEND bad "\n  ${f}: ${own}/ is not in the layer order of ${FOLDER}/")
      continue()
    endif()
  endif()
  file(STRINGS "${f}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(l IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" inc "${l}")
    string(REPLACE "/" ";" parts "${inc}")
    list(LENGTH parts n)
    if(n LESS 2)
      continue()
    endif()
    list(GET parts 0 top)
    if(NOT top IN_LIST project_tops)
      continue()
    endif()
    if(top IN_LIST split_tops AND n GREATER 2)
      list(GET parts 1 sub)
      set(owner "${top}/${sub}")
    else()
      set(owner "${top}")
    endif()
    if(NOT owner IN_LIST FOLDERS)
      string(APPEND bad "\n  ${f}: \"${inc}\" (${owner}/ is not below this library)")
    elseif(own_index GREATER_EQUAL 0)
      layer_place("${inc}" place)
      if(place)
        layer_index("${place}" index)
        if(index GREATER own_index OR index LESS 0)
          string(APPEND bad "\n  ${f}: \"${inc}\" (${FOLDER}/${place} is not below ${FOLDER}/${own})")
        endif()
      endif()
    endif()
  endforeach()
endforeach()
if(bad)
  message(FATAL_ERROR "include against the layer order:${bad}")
endif()
file(TOUCH "${STAMP}")
