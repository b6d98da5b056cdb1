# One ctest entry per test file of the Wine test program (a file is named
# after its suite: tests/wine/escape_test.cpp holds the suites Escape*).
function(qx_wine_suites target)
  foreach(src ${ARGN})
    get_filename_component(name ${src} NAME_WE)
    if(name MATCHES "^(.*)_test$")
      set(stem ${CMAKE_MATCH_1})
      file(STRINGS ${src} suites REGEX "^TEST(_F|_P)?\\(([A-Za-z0-9]+),")
      set(filters "")
      foreach(line ${suites})
        string(REGEX REPLACE "^TEST(_F|_P)?\\(([A-Za-z0-9]+),.*" "\\2" suite "${line}")
        list(APPEND filters "${suite}.*")
      endforeach()
      list(REMOVE_DUPLICATES filters)
      string(JOIN ":" filter ${filters})
      if(filter)
        add_test(NAME wine.${stem}
          COMMAND ${QX_WINE_RUN} $<TARGET_FILE:${target}> --gtest_filter=${filter})
        set_tests_properties(wine.${stem} PROPERTIES FIXTURES_REQUIRED wineprefix TIMEOUT 600)
        # Suites that look for other copies of the page (the single-copy
        # marker is visible across processes) say so and run alone.
        file(STRINGS ${src} serial REGEX "^// ctest: run serial")
        if(serial)
          set_tests_properties(wine.${stem} PROPERTIES RUN_SERIAL TRUE)
        endif()
      endif()
    endif()
  endforeach()
endfunction()
