# Helpers that keep the per-folder CMakeLists short.
#
# qm_library(NAME SOURCES ... DEPENDS ...)  one static library per subsystem
# qm_test(NAME SOURCES ... DEPENDS ... [LABELS ...])
#   A GoogleTest program registered with CTest. Label "sanitize" marks tests of parsers of
#   outside input: the sanitizer build (QM_SANITIZE) builds and runs only those.
#   Label "peer" marks tests that start real servers (nginx, tinyproxy, dante ...).
#   Label "tsan" marks tests of work shared between threads: the thread-sanitizer build
#   (QM_SANITIZE_THREAD) builds and runs only those.
# qm_fuzzer(NAME SOURCES ... DEPENDS ... [RUNS n] [CORPUS dir])
#   A libFuzzer target, built only with QM_FUZZ; CTest runs it briefly with a fixed seed.

function(qm_library name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPENDS" ${ARGN})
  if(NOT A_SOURCES)
    # A subsystem whose folder has no code yet still links as a name.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${A_DEPENDS})
    return()
  endif()
  add_library(${name} STATIC ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${A_DEPENDS})
endfunction()

function(qm_test name)
  cmake_parse_arguments(A "" "TIMEOUT" "SOURCES;DEPENDS;LABELS" ${ARGN})
  if(QM_FUZZ)
    return()
  endif()
  if(QM_SANITIZE AND NOT "sanitize" IN_LIST A_LABELS)
    return()
  endif()
  if(QM_SANITIZE_THREAD AND NOT "tsan" IN_LIST A_LABELS)
    return()
  endif()
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_DEPENDS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name})
  if(TARGET qm_tsan_tests)
    add_dependencies(qm_tsan_tests ${name})
  endif()
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES
    LABELS "${A_LABELS}" TIMEOUT ${A_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QM_SOURCE_DIR=${PROJECT_SOURCE_DIR};QM_BINARY_DIR=${PROJECT_BINARY_DIR}")
endfunction()

function(qm_fuzzer name)
  cmake_parse_arguments(A "" "RUNS;CORPUS" "SOURCES;DEPENDS" ${ARGN})
  if(NOT QM_FUZZ)
    return()
  endif()
  add_executable(${name} ${A_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${A_DEPENDS})
  if(NOT A_RUNS)
    set(A_RUNS 20000)
  endif()
  set(args -seed=1 -runs=${A_RUNS} -max_len=65536 -timeout=10 -rss_limit_mb=2048)
  if(A_CORPUS)
    # The checked-in seeds are read only; new inputs go to a scratch folder.
    set(cmd ${CMAKE_CURRENT_BINARY_DIR}/${name} ${args} ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus ${A_CORPUS})
    file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus)
    add_test(NAME ${name} COMMAND ${cmd})
  else()
    add_test(NAME ${name} COMMAND ${name} ${args})
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "fuzz" TIMEOUT 600)
endfunction()
