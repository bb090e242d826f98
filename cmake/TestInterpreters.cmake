# The interpreters a developer build makes the Python module for: every
# CPython on the machine, so that the Python tests run under each of them.
# Only developer mode uses this; a user's build makes the module for one
# interpreter (FindPython's, or the ones in VELMORAN_PYTHON_EXECUTABLES).

# velmoran_candidate_pythons(<out>): every python3 of pyenv's versions and
# every python3.N in a PATH directory, in that order. Unusable ones (shims
# of versions not selected, old versions) are sorted out by the query.
function(velmoran_candidate_pythons out)
  set(candidates "")
  find_program(pyenv_program pyenv NO_CACHE)
  if(pyenv_program)
    execute_process(COMMAND ${pyenv_program} root
      OUTPUT_VARIABLE pyenv_root OUTPUT_STRIP_TRAILING_WHITESPACE
      RESULT_VARIABLE pyenv_status ERROR_QUIET)
    if(pyenv_status EQUAL 0 AND IS_DIRECTORY "${pyenv_root}/versions")
      file(GLOB pyenv_pythons LIST_DIRECTORIES false "${pyenv_root}/versions/*/bin/python3")
      list(APPEND candidates ${pyenv_pythons})
    endif()
  endif()
  string(REPLACE ":" ";" path_dirs "$ENV{PATH}")
  foreach(dir IN LISTS path_dirs)
    if(dir AND IS_DIRECTORY "${dir}")
      file(GLOB dir_pythons LIST_DIRECTORIES false "${dir}/python3.*")
      list(FILTER dir_pythons INCLUDE REGEX "/python3\\.[0-9]+$")
      list(APPEND candidates ${dir_pythons})
    endif()
  endforeach()
  set(${out} ${candidates} PARENT_SCOPE)
endfunction()
