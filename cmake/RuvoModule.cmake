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
  endif()
  if(RUVO_FUZZ)
    # Coverage for libFuzzer; the harnesses link its main.
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
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
