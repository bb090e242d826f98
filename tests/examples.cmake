# Every example script runs on small generated runs, under every interpreter
# the module is built for, so the examples cannot rot.
# A sanitizer build runs the module's own tests only.
if(VELMORAN_SANITIZE)
  return()
endif()

set(examples_work ${CMAKE_CURRENT_BINARY_DIR}/examples)
set(examples_dir ${PROJECT_SOURCE_DIR}/examples)
add_test(NAME examples_dda_run
  COMMAND $<TARGET_FILE:velmoran_mkdataset> synth ${examples_work}/dda.d
    --ms1 12 --ms2 36 --points 2000 --peaks 60 --seed 3)
add_test(NAME examples_mrm_run
  COMMAND $<TARGET_FILE:velmoran_mkdataset> mrm ${examples_work}/mrm.d --scans 40 --layout 186)
set_tests_properties(examples_dda_run examples_mrm_run PROPERTIES
  FIXTURES_SETUP example_runs LABELS examples)

get_property(velmoran_python_modules GLOBAL PROPERTY VELMORAN_PYTHON_MODULES)
foreach(module IN LISTS velmoran_python_modules)
  get_target_property(python ${module} VELMORAN_PYTHON_EXECUTABLE)
  get_target_property(version ${module} VELMORAN_PYTHON_VERSION)
  set(runs
    "summary|${examples_dir}/summary.py|${examples_work}/dda.d|--png|${examples_work}/tic-${version}.png"
    "walk_spectra|${examples_dir}/walk_spectra.py|${examples_work}/mrm.d"
    "ms2_spectra|${examples_dir}/ms2_spectra.py|${examples_work}/dda.d"
    "to_numpy|${examples_dir}/to_numpy.py|${examples_work}/dda.d"
    "arrays_chromatogram|${examples_dir}/arrays_chromatogram.py|${examples_work}/dda.d"
    "parallel_runs|${examples_dir}/parallel_runs.py|${examples_work}/dda.d|${examples_work}/mrm.d")
  foreach(run IN LISTS runs)
    string(REPLACE "|" ";" args "${run}")
    list(POP_FRONT args name)
    add_test(NAME example_${name}_${version} COMMAND ${python} ${args})
    set_tests_properties(example_${name}_${version} PROPERTIES
      FIXTURES_REQUIRED example_runs
      LABELS examples
      TIMEOUT 120
      ENVIRONMENT "PYTHONPATH=$<TARGET_FILE_DIR:${module}>;PYTHONDONTWRITEBYTECODE=1")
  endforeach()
  # A run that cannot be read: named on standard error, exit status 1 (a
  # batch script must see it), the other runs still read.
  add_test(NAME example_parallel_runs_failure_${version}
    COMMAND sh -c [=[out=$("$0" "$@" 2>&1); status=$?; echo "$out"; [ $status -eq 1 ] &&
      echo "$out" | grep -q "dda.d: 48 scans" && echo "$out" | grep -q "missing.d: " &&
      echo "$out" | grep -q "1 of 2 runs failed"]=]
      ${python} ${examples_dir}/parallel_runs.py ${examples_work}/dda.d ${examples_work}/missing.d)
  set_tests_properties(example_parallel_runs_failure_${version} PROPERTIES
    FIXTURES_REQUIRED example_runs LABELS examples TIMEOUT 120
    ENVIRONMENT "PYTHONPATH=$<TARGET_FILE_DIR:${module}>;PYTHONDONTWRITEBYTECODE=1")
endforeach()
