# In a sanitizer build of the Debug type (no optimisation), the loops of the engine and the
# import take most of the time of the engine's and the converter's tests; these two are
# optimised a little (-O1), which the sanitizers check as well.
set(RUVO_SANITIZE_OPTIMISED ruvo_engine ruvo_import)

# Warnings, floating-point strictness and sanitizers for our own targets only.
function(ruvo_apply_flags target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wnon-virtual-dtor
    # Results must not depend on whether the compiler fuses a multiply and an add.
    -ffp-contract=off)
  if(RUVO_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(RUVO_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=${RUVO_SANITIZE} -fno-omit-frame-pointer
                           -fno-sanitize-recover=all)
    target_link_options(${target} PRIVATE -fsanitize=${RUVO_SANITIZE})
    if(CMAKE_BUILD_TYPE STREQUAL "Debug" AND target IN_LIST RUVO_SANITIZE_OPTIMISED)
      target_compile_options(${target} PRIVATE -O1)
    endif()
  endif()
  if(RUVO_FUZZ)
    # Coverage for libFuzzer; the harnesses link its main.
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
endfunction()

# Precompiled headers: the standard, Qt and GoogleTest headers that most of the sources of a
# target include are parsed once per target (or once for several targets of the same flags)
# instead of once per source file. Only targets of many sources, or that share one, take them;
# the engine, the import and the score keep to their own includes.
option(RUVO_PCH "Precompile the headers that most sources of the Qt and test targets include" ON)
set(RUVO_PCH_STD <algorithm> <array> <cmath> <cstdint> <cstdio> <cstdlib> <cstring> <filesystem>
                 <functional> <memory> <string> <utility> <vector>)
set(RUVO_PCH_QT <QAction> <QApplication> <QColor> <QLabel> <QMenu> <QObject> <QPainter> <QPushButton>
                <QString> <QTimer> <QWidget>)

# ruvo_precompile(TARGET [QT] [QTEST] [GTEST] | TARGET REUSE_FROM OTHER): the standard headers
# and those of Qt's widgets, of QtTest and of GoogleTest, as named; or the precompiled headers
# of OTHER, whose compile flags TARGET must share.
function(ruvo_precompile target)
  cmake_parse_arguments(ARG "QT;QTEST;GTEST" "REUSE_FROM" "" ${ARGN})
  if(NOT RUVO_PCH)
    return()
  endif()
  if(ARG_REUSE_FROM)
    target_precompile_headers(${target} REUSE_FROM ${ARG_REUSE_FROM})
    return()
  endif()
  set(headers ${RUVO_PCH_STD})
  if(ARG_QT)
    list(APPEND headers ${RUVO_PCH_QT})
  endif()
  if(ARG_QTEST)
    list(APPEND headers <QTest> <QSignalSpy>)
  endif()
  if(ARG_GTEST)
    list(APPEND headers <gtest/gtest.h>)
  endif()
  target_precompile_headers(${target} PRIVATE ${headers})
endfunction()

# ruvo_add_module(NAME STATIC|EXECUTABLE SOURCES ... [LIBS ...])
function(ruvo_add_module name kind)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(kind STREQUAL "EXECUTABLE")
    add_executable(${name} ${ARG_SOURCES})
  else()
    add_library(${name} ${kind} ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}")
  endif()
  if(ARG_LIBS)
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  endif()
  ruvo_apply_flags(${name})
endfunction()

# ruvo_add_bench(NAME SOURCES ... [LIBS ...]): a bench of bench/, run by hand, not a test; left
# out where RUVO_BUILD_BENCHES is off.
function(ruvo_add_bench name)
  if(RUVO_BUILD_BENCHES)
    ruvo_add_module(${name} EXECUTABLE ${ARGN})
  endif()
endfunction()

# ruvo_gtests(TARGET LABELS label... [ENVIRONMENT var=value...] [THREAD_SUITES suite...]): every
# case of the GoogleTest program TARGET as a test of its own, with LABELS. THREAD_SUITES names the
# suites whose cases run more than one thread (the worker pool, the live analysis' thread, the
# import's reader and lanes). A ThreadSanitizer build runs only those, one test per suite with
# the label "threads": there a process takes about half a second to start, and the threads of
# the others are never more than one.
function(ruvo_gtests target)
  cmake_parse_arguments(ARG "" "" "LABELS;ENVIRONMENT;THREAD_SUITES" ${ARGN})
  if(NOT RUVO_SANITIZE MATCHES "thread")
    set(properties LABELS "${ARG_LABELS}")
    if(ARG_ENVIRONMENT)
      list(APPEND properties ENVIRONMENT "${ARG_ENVIRONMENT}")
    endif()
    gtest_discover_tests(${target} PROPERTIES ${properties} DISCOVERY_TIMEOUT 60)
    return()
  endif()
  if(NOT ARG_THREAD_SUITES)
    set_target_properties(${target} PROPERTIES EXCLUDE_FROM_ALL ON)
  endif()
  foreach(suite IN LISTS ARG_THREAD_SUITES)
    # A value-parameterised suite's cases carry the name of their instantiation in front.
    add_test(NAME ${target}.${suite} COMMAND ${target} "--gtest_filter=${suite}.*:*/${suite}.*")
    # A misspelt suite runs nothing: that fails.
    set_tests_properties(${target}.${suite} PROPERTIES LABELS "${ARG_LABELS};threads"
                         ENVIRONMENT "${ARG_ENVIRONMENT}" FAIL_REGULAR_EXPRESSION "PASSED  \\] 0 tests")
  endforeach()
endfunction()
