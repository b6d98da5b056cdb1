enable_language(RC)

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86")
  # 32-bit Windows promises only a 4-byte aligned stack, and the module is
  # called from threads it does not own; the vector kernels keep 16-byte
  # values on the stack, so every function that needs more aligns its own.
  list(APPEND QX_MODULE_FLAGS -mincoming-stack-boundary=2)
endif()

file(GLOB_RECURSE QX_MODULE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/*.cpp)
list(REMOVE_ITEM QX_MODULE_SOURCES ${CMAKE_SOURCE_DIR}/src/hosting/dllmain.cpp)

set(QX_SYSTEM_LIBS gdi32 user32 comctl32 comdlg32 advapi32 shell32 version ole32 oleaut32 uuid msimg32)

# The module's code as objects, so that the DLL and the Wine test program
# are made of the very same compiled code.
add_library(qxobjs OBJECT ${QX_MODULE_SOURCES})
target_include_directories(qxobjs PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/resources)
target_compile_options(qxobjs PRIVATE ${QX_MODULE_FLAGS})
target_compile_definitions(qxobjs PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601 _WIN32_IE=0x0600 STRICT)

add_library(QXTINTRA SHARED
  ${CMAKE_SOURCE_DIR}/src/hosting/dllmain.cpp
  ${CMAKE_SOURCE_DIR}/src/hosting/qxtintra.def
  ${CMAKE_SOURCE_DIR}/resources/qxtintra.rc
  $<TARGET_OBJECTS:qxobjs>)
set_target_properties(QXTINTRA PROPERTIES PREFIX "" OUTPUT_NAME QXTINTRA SUFFIX ".dll")
target_include_directories(QXTINTRA PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/resources)
target_compile_options(QXTINTRA PRIVATE ${QX_MODULE_FLAGS})
target_compile_definitions(QXTINTRA PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601 _WIN32_IE=0x0600 STRICT)
# Runtime linked in statically: the DLL must import nothing but system DLLs.
target_link_options(QXTINTRA PRIVATE -static -static-libgcc -static-libstdc++ -Wl,--enable-stdcall-fixup -Wl,--no-insert-timestamp)
target_link_libraries(QXTINTRA PRIVATE ${QX_SYSTEM_LIBS})
set_property(SOURCE ${CMAKE_SOURCE_DIR}/resources/qxtintra.rc APPEND PROPERTY OBJECT_DEPENDS
  ${CMAKE_SOURCE_DIR}/resources/resource.h)
target_include_directories(QXTINTRA PRIVATE ${CMAKE_SOURCE_DIR}/resources)

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86")
  # Only the structure of the shipped 32-bit DLL can be checked here: this
  # kernel runs no 32-bit programs.
  add_test(NAME pe32_structure
    COMMAND bash ${CMAKE_SOURCE_DIR}/tools/check-pe32.sh $<TARGET_FILE:QXTINTRA>)
  return()
endif()

# ---- 64-bit: Wine bench ----------------------------------------------------
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Simulated display driver and import patching: a test and demo aid, never
# part of the module.
file(GLOB QX_SIMDRIVER_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/simdriver/*.cpp)
add_library(qxsimdriver STATIC ${QX_SIMDRIVER_SOURCES})
target_include_directories(qxsimdriver PUBLIC ${CMAKE_SOURCE_DIR}/tools/simdriver ${CMAKE_SOURCE_DIR}/src)
target_compile_definitions(qxsimdriver PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601 _WIN32_IE=0x0600 STRICT)
target_link_libraries(qxsimdriver PUBLIC ${QX_SYSTEM_LIBS})

file(GLOB QX_DEMOHOST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/demohost/*.cpp)
# The demo host takes its chip identities from the module's chip table.
add_executable(qxdemo ${QX_DEMOHOST_SOURCES} ${CMAKE_SOURCE_DIR}/src/driver/chip_family.cpp
  ${CMAKE_SOURCE_DIR}/tools/skincheck/skin_files.cpp)
target_include_directories(qxdemo PRIVATE ${CMAKE_SOURCE_DIR}/tools/skincheck)
target_link_libraries(qxdemo PRIVATE qxsimdriver)
target_link_options(qxdemo PRIVATE -static -mwindows -mconsole)
add_dependencies(qxdemo QXTINTRA)

# The skin checker: the module's objects and resources with a console front,
# so it sees a skin exactly as the page does.
add_executable(qxskincheck ${CMAKE_SOURCE_DIR}/tools/skincheck/skincheck.cpp
  ${CMAKE_SOURCE_DIR}/tools/skincheck/skin_files.cpp ${CMAKE_SOURCE_DIR}/resources/qxtintra.rc $<TARGET_OBJECTS:qxobjs>)
target_include_directories(qxskincheck PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/resources
  ${CMAKE_SOURCE_DIR}/tools/skincheck)
target_link_libraries(qxskincheck PRIVATE qxsimdriver)
target_link_options(qxskincheck PRIVATE -static -mconsole)
add_dependencies(qxskincheck qxdemo)

file(GLOB QX_WINE_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/wine/*.cpp)
add_executable(qx_wine_tests ${QX_WINE_TEST_SOURCES} $<TARGET_OBJECTS:qxobjs>)
target_include_directories(qx_wine_tests PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/resources ${CMAKE_SOURCE_DIR}/tests/wine)
target_compile_definitions(qx_wine_tests PRIVATE QX_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
target_link_libraries(qx_wine_tests PRIVATE qxsimdriver gtest)
target_link_options(qx_wine_tests PRIVATE -static)
add_dependencies(qx_wine_tests QXTINTRA qxskincheck)
# Small DLLs that hold nothing but a version block, read by the version-string
# tests next to the test program.
foreach(dll qxver_trans qxver_plain)
  add_library(${dll} SHARED ${CMAKE_SOURCE_DIR}/tests/wine/data/verdll.c ${CMAKE_SOURCE_DIR}/tests/wine/data/${dll}.rc)
  set_target_properties(${dll} PROPERTIES PREFIX "" SUFFIX ".dll")
  add_dependencies(qx_wine_tests ${dll})
endforeach()

set(QX_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(QX_WINE_RUN bash ${CMAKE_SOURCE_DIR}/tools/wine/run-wine.sh ${QX_WINEPREFIX})
add_test(NAME wine_prefix COMMAND ${QX_WINE_RUN} --init)
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wineprefix)
# Each suite is its own process: module globals, registered classes and the
# patched import table start fresh, and one crash names its suite.
include(${CMAKE_SOURCE_DIR}/cmake/wine-suites.cmake)
qx_wine_suites(qx_wine_tests ${QX_WINE_TEST_SOURCES})

# The demo host end to end: a supported adapter shows the page and leaves a
# screenshot; an unknown chip gets no page (exit code 2).
add_test(NAME demo.screenshot
  COMMAND ${QX_WINE_RUN} $<TARGET_FILE:qxdemo> --screenshot ${CMAKE_BINARY_DIR}/qxtintra-page.png --delay 800)
add_test(NAME demo.unsupported_chip COMMAND ${QX_WINE_RUN} $<TARGET_FILE:qxdemo> --family 0)
# The control panel's road ends in the same page.
add_test(NAME demo.shell_screenshot
  COMMAND ${QX_WINE_RUN} $<TARGET_FILE:qxdemo> --shell --device \\\\.\\DISPLAY2
          --screenshot ${CMAKE_BINARY_DIR}/qxtintra-page-shell.png --delay 800)
set_tests_properties(demo.shell_screenshot PROPERTIES PASS_REGULAR_EXPRESSION "AddPages -> 0x00000000.*screenshot written"
  FIXTURES_REQUIRED wineprefix TIMEOUT 300)
set_tests_properties(demo.unsupported_chip PROPERTIES WILL_FAIL FALSE PASS_REGULAR_EXPRESSION "no page was added")
set_tests_properties(demo.screenshot PROPERTIES PASS_REGULAR_EXPRESSION "screenshot written")
set_tests_properties(demo.screenshot demo.unsupported_chip PROPERTIES FIXTURES_REQUIRED wineprefix TIMEOUT 300)

# Both roads end in the very same page, pixel for pixel.
add_test(NAME demo.same_page_both_roads
  COMMAND compare -metric AE ${CMAKE_BINARY_DIR}/qxtintra-page.png ${CMAKE_BINARY_DIR}/qxtintra-page-shell.png null:)
set_tests_properties(demo.screenshot PROPERTIES FIXTURES_SETUP page_utility)
set_tests_properties(demo.shell_screenshot PROPERTIES FIXTURES_SETUP page_shell)
set_tests_properties(demo.same_page_both_roads PROPERTIES FIXTURES_REQUIRED "page_utility;page_shell")

# make demo on a machine without a display says so and leaves the page as a
# picture; an OEM's .reg and configuration file are shown in one step.
add_test(NAME demo.headless
  COMMAND env DISPLAY= bash ${CMAKE_SOURCE_DIR}/tools/demo.sh ${CMAKE_BINARY_DIR}/.. --delay 800)
set_tests_properties(demo.headless PROPERTIES PASS_REGULAR_EXPRESSION "no display here.*The page: "
  FIXTURES_REQUIRED wineprefix TIMEOUT 300)
add_test(NAME demo.sample_skin
  COMMAND ${QX_WINE_RUN} $<TARGET_FILE:qxdemo> --reg docs/sample-skin/harbour.reg --cfg docs/sample-skin/HARBOUR.CFG
          --language German --screenshot ${CMAKE_BINARY_DIR}/qxtintra-page-harbour.png --delay 800
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
set_tests_properties(demo.sample_skin PROPERTIES PASS_REGULAR_EXPRESSION "screenshot written"
  FIXTURES_REQUIRED wineprefix TIMEOUT 300)
