# cmake -DROOT=src -P check_includes.cmake: fails when a source under ROOT
# includes a path with ".." in it, or an absolute one. Either would reach past
# the floor's include root ("../core/engine.h", "script/../core/engine.h"),
# where the floors are meant to be the only way between folders.
file(GLOB_RECURSE files ${ROOT}/*.h ${ROOT}/*.cpp)
set(bad "")
foreach(file IN LISTS files)
  file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]*\\.\\.|/)")
  foreach(line IN LISTS lines)
    file(RELATIVE_PATH name ${ROOT} ${file})
    string(APPEND bad "  ${name}: ${line}\n")
  endforeach()
endforeach()
if(bad)
  message(FATAL_ERROR "includes that climb past their floor; name the folder from the floor's "
                      "root instead (\"base/log.h\"):\n${bad}")
endif()
