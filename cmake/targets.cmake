# Helpers shared by every target of the project.

# Warnings are errors in our own code (not in GoogleTest or Google Benchmark).
function(nmm_own_target target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# A shared library used as a test fixture: bound and RELRO'd at load, as Android
# loads app libraries, so its GOT is read-only and fully resolved.
function(nmm_add_fixture_library name)
  add_library(${name} SHARED ${ARGN})
  nmm_own_target(${name})
  target_link_options(${name} PRIVATE -Wl,-z,now -Wl,-z,relro)
endfunction()

# A GoogleTest program; every test case runs as its own process (the monitor is
# one-shot per process), also under the cross-build emulator.
function(nmm_add_gtest name)
  add_executable(${name} ${ARGN})
  nmm_own_target(${name})
  set_target_properties(${name} PROPERTIES ENABLE_EXPORTS ON)
  target_link_libraries(${name} PRIVATE gtest_main)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120)
endfunction()
