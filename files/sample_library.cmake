# The sample gas library: generated at build time beside the program (where
# a program in the build folder looks for setting.xlsx) and installed into
# the data folder, from which an installed program copies it into each
# user's own folder on first use.
set(TL_SAMPLE_LIBRARY ${TL_RUNTIME_DIR}/setting.xlsx)
add_custom_command(OUTPUT ${TL_SAMPLE_LIBRARY}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TL_RUNTIME_DIR}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/make_sample_library.py ${TL_SAMPLE_LIBRARY}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/make_sample_library.py
  COMMENT "Sample gas library setting.xlsx"
  VERBATIM)
add_custom_target(sample_library ALL DEPENDS ${TL_SAMPLE_LIBRARY})
install(FILES ${TL_SAMPLE_LIBRARY} DESTINATION ${CMAKE_INSTALL_DATADIR}/tl-configuration)
