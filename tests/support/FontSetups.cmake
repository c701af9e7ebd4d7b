# The page and layout tests once more under each of two font setups made here,
# so that what they check cannot hang on the fonts a machine happens to have:
# only DejaVu, and DejaVu with the URW fonts (whose Nimbus Sans is taller than
# the program's own family). FONTCONFIG_FILE points fontconfig at the setup;
# the rest of the suite runs once, with the machine's fonts.
set(font_setup_tests "")
set(dejavu_dir /usr/share/fonts/truetype/dejavu)
set(urw_dirs /usr/share/fonts/opentype/urw-base35 /usr/share/fonts/type1/urw-base35)

function(write_font_setup name)
  set(root ${CMAKE_BINARY_DIR}/font-setups/${name})
  set(dirs "")
  foreach(d ${ARGN})
    string(APPEND dirs "  <dir>${d}</dir>\n")
  endforeach()
  file(WRITE ${root}/fonts.conf
       "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n<fontconfig>\n"
       "${dirs}  <cachedir>${root}/cache</cachedir>\n"
       "  <include ignore_missing=\"yes\">/etc/fonts/conf.d</include>\n</fontconfig>\n")
endfunction()

set(font_setups dejavu)
write_font_setup(dejavu ${dejavu_dir})
set(have_urw FALSE)
foreach(d ${urw_dirs})
  if(EXISTS ${d})
    set(have_urw TRUE)
  endif()
endforeach()
if(have_urw)
  list(APPEND font_setups dejavu_urw)
  write_font_setup(dejavu_urw ${dejavu_dir} ${urw_dirs})
else()
  message(STATUS "fonts-urw-base35 is not installed: the page tests run under the DejaVu font setup only")
endif()

set(page_gtest_filter "PrintPage*:PageFont*:PageMetrics*:PageLayout*:MapPrinting*:PrintPreview*")
foreach(setup ${font_setups})
  set(env ${test_env} "FONTCONFIG_FILE=${CMAKE_BINARY_DIR}/font-setups/${setup}/fonts.conf"
          "KESTRUNE_FONT_SETUP=${setup}")
  add_test(NAME fonts_${setup}_page_layout COMMAND test_mapview_gui --gtest_filter=${page_gtest_filter})
  set_tests_properties(fonts_${setup}_page_layout PROPERTIES ENVIRONMENT "${env}")
  foreach(script cli_print cli_page)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/scripts/${script}.sh)
      add_test(NAME fonts_${setup}_script_${script}
               COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/scripts/${script}.sh ${CMAKE_BINARY_DIR}
                       ${KESTRUNE_TESTDATA_DIR} ${KESTRUNE_SHARED_TOOLS_DIR})
      set_tests_properties(fonts_${setup}_script_${script} PROPERTIES ENVIRONMENT "${env}" SKIP_RETURN_CODE 77)
    endif()
  endforeach()
endforeach()
