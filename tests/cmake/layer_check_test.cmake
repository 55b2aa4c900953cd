# cmake -DCHECK=<cmake/LayerCheck.cmake> -DWORK=<scratch folder> -P layer_check_test.cmake
#
# The layer check against made-up files of a library "render" whose subfolders are ordered
# ". scene frame": each case writes one file and says whether the check must pass.
cmake_minimum_required(VERSION 3.25)
set(order ".;scene;frame")
# name | file below WORK | its include line | expected (PASS or FAIL)
set(cases
  "down from the top|render/frame/Draw.cpp|#include \"render/scene/Light.h\"|PASS"
  "down to the root|render/scene/Light.cpp|#include \"render/Stream.h\"|PASS"
  "same place|render/scene/Light.cpp|#include \"render/scene/Grid.h\"|PASS"
  "up from the root|render/Stream.cpp|#include \"render/scene/Light.h\"|FAIL"
  "up one place|render/scene/Light.cpp|#  include \"render/frame/Draw.h\"|FAIL"
  "a file outside the order|render/extra/Tool.cpp|#include \"render/Stream.h\"|FAIL"
  "a library not linked|render/frame/Draw.cpp|#include \"game/Game.h\"|FAIL"
  "system headers are not checked|render/Stream.cpp|#include <vector>|PASS")
set(failures "")
foreach(c IN LISTS cases)
  string(REPLACE "|" ";" fields "${c}")
  list(GET fields 0 name)
  list(GET fields 1 file)
  list(GET fields 2 line)
  list(GET fields 3 expected)
  file(REMOVE_RECURSE "${WORK}/case")
  file(WRITE "${WORK}/case/${file}" "${line}\n")
  execute_process(
    COMMAND ${CMAKE_COMMAND} "-DFOLDERS=render;core" "-DFILES=${WORK}/case/${file}" "-DSTAMP=${WORK}/case/stamp"
            -DFOLDER=render "-DLAYERS=${order}" "-DROOT=${WORK}/case" -P "${CHECK}"
    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  if(rc EQUAL 0)
    set(got PASS)
  else()
    set(got FAIL)
  endif()
  if(NOT got STREQUAL expected)
    string(APPEND failures "\n  ${name}: expected ${expected}, got ${got}")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "layer check cases failed:${failures}")
endif()
