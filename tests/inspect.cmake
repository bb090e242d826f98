# The info, scans and xic commands: the inspect library's rules in C++, the
# program on generated runs against the writer's expected spectra, the
# Snakemake workflow and the XIC plot example.
velmoran_add_test(inspect_test inspect_test.cpp)
target_link_libraries(inspect_test PRIVATE velmoran::inspect)
# The map's grid (the viewer's /api/map) against a plain loop over the spectra.
velmoran_add_test(run_map_test run_map_test.cpp)
target_link_libraries(run_map_test PRIVATE velmoran::inspect)

# The program on generated runs, read back with Python's csv and json.
find_program(VELMORAN_TEST_PYTHON NAMES python3)
if(TARGET velmoran_cli AND VELMORAN_TEST_PYTHON)
  add_test(NAME inspect_cli
    COMMAND ${VELMORAN_TEST_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/cli/inspect_cli_test.py)
  set_tests_properties(inspect_cli PROPERTIES
    LABELS cli
    TIMEOUT 120
    ENVIRONMENT "VELMORAN=$<TARGET_FILE:velmoran_cli>;VELMORAN_MKDATASET=$<TARGET_FILE:velmoran_mkdataset>;PYTHONDONTWRITEBYTECODE=1")
  # The targets and transition lists users give: one dialect, bounded reading.
  add_test(NAME user_text_cli
    COMMAND ${VELMORAN_TEST_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/cli/user_text_test.py)
  set_tests_properties(user_text_cli PROPERTIES
    LABELS cli
    TIMEOUT 120
    ENVIRONMENT "VELMORAN=$<TARGET_FILE:velmoran_cli>;VELMORAN_MKDATASET=$<TARGET_FILE:velmoran_mkdataset>;PYTHONDONTWRITEBYTECODE=1")
  # Where convert, scans and xic put their files, and the thread default.
  add_test(NAME output_placement
    COMMAND ${VELMORAN_TEST_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/cli/output_placement_test.py)
  set_tests_properties(output_placement PROPERTIES
    LABELS cli
    TIMEOUT 180
    ENVIRONMENT "VELMORAN=$<TARGET_FILE:velmoran_cli>;VELMORAN_MKDATASET=$<TARGET_FILE:velmoran_mkdataset>;PYTHONDONTWRITEBYTECODE=1")
  if(VELMORAN_SANITIZE)
    # The sanitizer's quarantine holds freed memory: the memory bound is the
    # release tree's to check.
    set_property(TEST output_placement APPEND PROPERTY ENVIRONMENT "VELMORAN_SANITIZED=1")
  endif()
endif()

# The workflow and the plot run the program as a user would; a sanitizer
# build leaves them out.
if(NOT TARGET velmoran_cli OR VELMORAN_SANITIZE)
  return()
endif()

find_program(VELMORAN_SNAKEMAKE NAMES snakemake)
if(VELMORAN_SNAKEMAKE)
  add_test(NAME snakemake_workflow
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/workflow/snakemake_test.sh
      $<TARGET_FILE:velmoran_cli> $<TARGET_FILE:velmoran_mkdataset>
      ${PROJECT_SOURCE_DIR}/workflows/snakemake/Snakefile ${CMAKE_CURRENT_BINARY_DIR}/snakemake)
  set_tests_properties(snakemake_workflow PROPERTIES LABELS "cli;workflow" TIMEOUT 180)
  # The same workflow with the Slurm profile, on a one-node cluster that the
  # test starts and stops itself (skipped, saying why, without root or Slurm).
  add_test(NAME snakemake_slurm
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/workflow/with_slurm.sh
      ${CMAKE_CURRENT_SOURCE_DIR}/workflow/snakemake_slurm_test.sh
      $<TARGET_FILE:velmoran_cli> $<TARGET_FILE:velmoran_mkdataset>
      ${PROJECT_SOURCE_DIR}/workflows/snakemake/Snakefile
      ${PROJECT_SOURCE_DIR}/workflows/snakemake/profiles/slurm
      ${CMAKE_CURRENT_BINARY_DIR}/snakemake-slurm)
  set_tests_properties(snakemake_slurm PROPERTIES
    LABELS "cli;workflow;slurm" TIMEOUT 420 SKIP_RETURN_CODE 77)
endif()

# examples/xic_plot.py under the first interpreter that has matplotlib
# (Debian's python3-matplotlib serves /usr/bin/python3).
foreach(candidate ${VELMORAN_TEST_PYTHON} /usr/bin/python3)
  execute_process(COMMAND ${candidate} -c "import matplotlib"
    RESULT_VARIABLE no_matplotlib OUTPUT_QUIET ERROR_QUIET)
  if(no_matplotlib EQUAL 0)
    set(xic_work ${CMAKE_CURRENT_BINARY_DIR}/xic_plot)
    add_test(NAME example_xic_plot_run
      COMMAND $<TARGET_FILE:velmoran_mkdataset> synth ${xic_work}/run.d
        --ms1 30 --ms2 30 --points 2000 --peaks 40 --seed 9)
    set_tests_properties(example_xic_plot_run PROPERTIES FIXTURES_SETUP xic_plot_run LABELS examples)
    add_test(NAME example_xic_plot
      COMMAND ${candidate} ${PROJECT_SOURCE_DIR}/examples/xic_plot.py ${xic_work}/run.d
        --mz 300 --mz 524.3 --ppm 20 -o ${xic_work}/xic.png --velmoran $<TARGET_FILE:velmoran_cli>)
    set_tests_properties(example_xic_plot PROPERTIES
      FIXTURES_REQUIRED xic_plot_run LABELS examples TIMEOUT 120
      PASS_REGULAR_EXPRESSION "wrote .*xic.png: 2 chromatograms")
    break()
  endif()
endforeach()
