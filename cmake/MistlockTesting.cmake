# Test helpers shared by every test directory.
#
# mistlock_add_test(NAME SOURCES... [LIBS ...] [CODEPAGES] [WINDOWED])
#   Builds one GoogleTest program and registers it with CTest. CODEPAGES runs it
#   twice, under the Cyrillic (1251) and the Western (1252) ANSI code page:
#   under Wine through the locale, natively through MISTLOCK_TEST_CODEPAGE,
#   which only the test programs read.
function(mistlock_add_test name)
  cmake_parse_arguments(T "CODEPAGES;WINDOWED" "" "SOURCES;LIBS" ${ARGN})
  if(T_LIBS)
    list(REMOVE_ITEM T_LIBS mistlock_resources)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} mistlock_gtest_main)
  target_compile_definitions(${name} PRIVATE MISTLOCK_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data")
  # Tests that play the host hand the plug-in a callback in 32 bits, as the
  # messenger does: the program sits low in memory, unrandomised.
  if(WIN32)
    # The plug-in's icons and glyph, in the test program's own module.
    if(TARGET mistlock_resources)
      target_link_libraries(${name} PRIVATE mistlock_resources)
    endif()
    target_link_options(${name} PRIVATE
      -Wl,--image-base,0x10000000 -Wl,--disable-dynamicbase -Wl,--disable-high-entropy-va)
  elseif(NOT CMAKE_CROSSCOMPILING)
    target_link_options(${name} PRIVATE -no-pie)
  endif()
  if(T_CODEPAGES)
    add_test(NAME ${name}.cp1251 COMMAND ${name})
    add_test(NAME ${name}.cp1252 COMMAND ${name})
    set_tests_properties(${name}.cp1251 PROPERTIES ENVIRONMENT "LC_ALL=ru_RU.UTF-8;MISTLOCK_TEST_CODEPAGE=1251")
    set_tests_properties(${name}.cp1252 PROPERTIES ENVIRONMENT "LC_ALL=en_US.UTF-8;MISTLOCK_TEST_CODEPAGE=1252")
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
endfunction()
