# Helpers shared by every folder's CMakeLists.

# station_test(NAME SOURCES a.cpp ... LIBS x y [QT] [LABELS l ...])
# A GoogleTest program in build/tests, registered with CTest as one test. QT marks a
# test that drives widgets: it runs on the offscreen platform.
function(station_test name)
  cmake_parse_arguments(T "QT" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  if(T_QT)
    target_link_libraries(${name} PRIVATE ${T_LIBS} station_qt_test_main GTest::gtest)
  else()
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  endif()
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/common)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    STATION_SHARED_DIR="${STATION_SHARED_DIR}"
    STATION_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
    STATION_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  add_test(NAME ${name} COMMAND ${name})
  set(env "QT_QPA_PLATFORM=offscreen")
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" LABELS "${T_LABELS}")
endfunction()

# station_fuzz(NAME SOURCES target.cpp ... LIBS x y)
# A fuzz target defines LLVMFuzzerTestOneInput. With STATION_FUZZ it links libFuzzer;
# otherwise it links a replay main, and the test run replays fuzz/NAME/crashers
# (inputs that once failed, kept as regression cases) and fuzz/NAME/corpus.
function(station_fuzz name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  if(STATION_FUZZ)
    add_executable(fuzz_${name} ${F_SOURCES})
    target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  else()
    add_executable(fuzz_${name} ${F_SOURCES} ${CMAKE_SOURCE_DIR}/fuzz/replay_main.cpp)
  endif()
  target_link_libraries(fuzz_${name} PRIVATE ${F_LIBS})
  set_target_properties(fuzz_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  if(NOT STATION_FUZZ)
    add_test(NAME fuzz_replay_${name}
             COMMAND fuzz_${name} ${CMAKE_SOURCE_DIR}/fuzz/${name}/crashers
                     ${CMAKE_SOURCE_DIR}/fuzz/${name}/corpus)
    set_tests_properties(fuzz_replay_${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
                         LABELS fuzz)
  endif()
endfunction()

# station_bench(NAME SOURCES ... LIBS ...): a Google Benchmark program in build/bench.
function(station_bench name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  target_compile_definitions(${name} PRIVATE
    STATION_SHARED_DIR="${STATION_SHARED_DIR}"
    STATION_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
    STATION_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endfunction()

# Each of tests/, fuzz/ and bench/ holds one subfolder a subsystem.
function(station_add_subfolders)
  file(GLOB children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# station_tool(TARGET): a command-line tool that starts as fast as a process can. Outside
# sanitizer and fuzz builds (whose runtimes need the dynamic loader) it is linked as a
# static position-independent executable: no shared library is searched for or loaded at
# start, which is most of a short run's fixed cost (libstdc++ above all). No Qt moc step.
include(CheckLinkerFlag)
check_linker_flag(CXX -static-pie STATION_HAVE_STATIC_PIE)
function(station_tool target)
  set_target_properties(${target} PROPERTIES AUTOMOC OFF)
  if(STATION_HAVE_STATIC_PIE AND NOT STATION_SANITIZE AND NOT STATION_FUZZ)
    target_link_options(${target} PRIVATE -static-pie)
    set_target_properties(${target} PROPERTIES SKIP_BUILD_RPATH ON INSTALL_RPATH "")
  endif()
endfunction()
