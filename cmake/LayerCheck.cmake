# cmake -P LayerCheck.cmake -DFOLDERS=<own and allowed folders> -DFILES=<files> -DSTAMP=<file>
#
# Fails when one of FILES includes a project header from a folder outside FOLDERS (the
# library's own folder and those of the libraries it links), so an include against the
# layer order stops the build even where the linker would not notice (inline code,
# objects another library already pulled in). A header belongs to core/, platform/ or
# tools/ plus its first subfolder (core/fs/...) or, directly in core/, to "core"; in the
# other top folders to the top folder.
cmake_minimum_required(VERSION 3.25)
set(split_tops core platform tools)
set(project_tops core platform render engine scene ui sound net game bindings app tools)
set(bad "")
foreach(f IN LISTS FILES)
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
    endif()
  endforeach()
endforeach()
if(bad)
  message(FATAL_ERROR "include against the layer order:${bad}")
endif()
file(TOUCH "${STAMP}")
