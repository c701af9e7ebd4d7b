# Checks that every file under SRC includes only its own level and the levels
# below it, and that a core file (directly in a level's folder) includes no
# widget header (a level's gui/ folder). LEVELS lists the folders of SRC,
# bottom level first. On success, touches STAMP; otherwise stops with one line
# per offending include.
#
#   cmake -DSRC=src "-DLEVELS=base;lang;..." -DSTAMP=out -P CheckLevels.cmake

get_filename_component(SRC "${SRC}" ABSOLUTE)
file(GLOB_RECURSE files RELATIVE ${SRC} ${SRC}/*.h ${SRC}/*.cpp)
set(problems "")
foreach(file ${files})
  string(REGEX MATCH "^[^/]+" folder "${file}")
  list(FIND LEVELS "${folder}" level)
  if(level EQUAL -1)
    string(APPEND problems "\n  src/${file}: folder '${folder}' is not one of the levels (${LEVELS})")
    continue()
  endif()
  set(core TRUE)
  if(file MATCHES "^[^/]+/gui/")
    set(core FALSE)
  endif()
  file(STRINGS ${SRC}/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line ${lines})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" included "${line}")
    if(included MATCHES "\\.\\.")
      string(APPEND problems "\n  src/${file}: \"${included}\" climbs out of its folder")
    elseif(included MATCHES "/")
      string(REGEX MATCH "^[^/]+" target "${included}")
      list(FIND LEVELS "${target}" target_level)
      if(target_level EQUAL -1)
        string(APPEND problems "\n  src/${file}: \"${included}\" names no level folder")
      elseif(target_level GREATER level)
        string(APPEND problems "\n  src/${file}: \"${included}\" is in '${target}', a level above '${folder}'")
      elseif(core AND included MATCHES "^[^/]+/gui/")
        string(APPEND problems "\n  src/${file}: \"${included}\" is a widget header, included by core code")
      endif()
    endif()
  endforeach()
endforeach()

if(problems)
  message(FATAL_ERROR "Includes that run upward (levels, bottom first: ${LEVELS}):${problems}")
endif()
file(TOUCH ${STAMP})
