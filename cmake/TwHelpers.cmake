# A time limit in seconds for a test, in VAR: sanitized builds run two to three times slower, and
# their limits grow with them (they still end a hung test).
function(tw_test_timeout var seconds)
    if(TW_SANITIZE)
        math(EXPR seconds "${seconds} * 3")
    endif()
    set(${var} ${seconds} PARENT_SCOPE)
endfunction()

# tw_add_test(NAME SOURCES a.cpp ... LIBS lib ... [ENV "K=V" ...] [OWN_MAIN] [TIMEOUT s])
# Builds one GoogleTest executable and registers it with CTest. Every test runs with the
# offscreen Qt platform and a private HOME so it never touches the user's data folder, and with
# the web service pointed at a closed local port.
function(tw_add_test name)
    if(NOT TW_BUILD_TESTS)
        return()
    endif()
    cmake_parse_arguments(T "OWN_MAIN" "TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest Threads::Threads)
    # No test reaches the maker's web service.
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/offline_webservice.cpp)
    target_link_libraries(${name} PRIVATE tw_webservice)
    if(NOT T_OWN_MAIN)
        target_link_libraries(${name} PRIVATE GTest::gtest_main)
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    tw_test_timeout(T_TIMEOUT ${T_TIMEOUT})
    add_test(NAME ${name} COMMAND ${name})
    set(home ${CMAKE_BINARY_DIR}/testhome/${name})
    file(MAKE_DIRECTORY ${home})
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;HOME=${home};TW_TEST_HOME=${home};LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp;${T_ENV}")
endfunction()

# tw_add_bench(NAME SOURCES a.cpp ... LIBS lib ...)
function(tw_add_bench name)
    cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${B_SOURCES})
    target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark Threads::Threads)
endfunction()

# Public test files of other programs, read where they lie (fuzz seeds, foreign-file tests).
set(TW_TESTDATA_DIR ${CMAKE_SOURCE_DIR}/../shared/testdata CACHE PATH
    "Public test files of other programs")

# Sanitizer settings of a fuzz run (tests/fuzz/run.sh sets the same): leaks are errors, except
# those that tests/fuzz/lsan.supp names inside system libraries (the thread-local blocks: see
# dev.sh).
set(TW_FUZZ_SANITIZER_ENV
    "ASAN_OPTIONS=detect_leaks=1:intercept_tls_get_addr=0"
    "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/fuzz/lsan.supp"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")

# tw_add_fuzz(NAME SOURCES a.cpp ... LIBS lib ... [CORPUS dir ...])
# A libFuzzer target (clang only). Its seed inputs are tests/fuzz/corpus/NAME (when present) and
# each CORPUS folder, read only; what the fuzzer finds goes to fuzz/corpus/NAME in the build tree.
# tests/fuzz/run.sh runs every target (CI briefly, `dev.sh fuzz` longer) with leak detection and
# prints each one's coverage; CTest runs them too (label "fuzz").
function(tw_add_fuzz name)
    if(NOT TW_BUILD_FUZZ)
        return()
    endif()
    cmake_parse_arguments(F "" "" "SOURCES;LIBS;CORPUS" ${ARGN})
    add_executable(${name} ${F_SOURCES})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(${name} PRIVATE ${F_LIBS})
    set(work ${CMAKE_BINARY_DIR}/fuzz/corpus/${name})
    file(MAKE_DIRECTORY ${work})
    set(seeds)
    if(IS_DIRECTORY ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${name})
        list(APPEND seeds ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${name})
    endif()
    foreach(dir ${F_CORPUS})
        if(IS_DIRECTORY ${dir})
            list(APPEND seeds ${dir})
        endif()
    endforeach()
    # One line per target for the run script: the program, then its corpus folders.
    string(REPLACE ";" " " seedText "${seeds}")
    file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/fuzz/targets/${name}
        CONTENT "$<TARGET_FILE:${name}> ${work} ${seedText}\n")
    add_dependencies(tw_fuzz_all ${name})
    set(seconds $ENV{TW_FUZZ_SECONDS})
    if(NOT seconds)
        set(seconds 20)
    endif()
    add_test(NAME ${name} COMMAND ${name} -max_total_time=${seconds} -rss_limit_mb=2048
        -timeout=10 -print_final_stats=1 ${work} ${seeds})
    set(home ${CMAKE_BINARY_DIR}/testhome/${name})
    file(MAKE_DIRECTORY ${home})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300 LABELS fuzz
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;HOME=${home};${TW_FUZZ_SANITIZER_ENV}")
endfunction()

# tw_add_child_folders(): adds every direct subfolder that has a CMakeLists.txt, in name order.
function(tw_add_child_folders)
    file(GLOB children RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
    list(SORT children)
    foreach(child ${children})
        if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
           AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
            add_subdirectory(${child})
        endif()
    endforeach()
endfunction()
