# Copies the language files (*.lang) from SOURCE to DEST; nothing when there are none.
if(EXISTS "${SOURCE}")
  file(GLOB _files "${SOURCE}/*.lang")
  if(_files)
    file(MAKE_DIRECTORY "${DEST}")
    file(COPY ${_files} DESTINATION "${DEST}")
  endif()
endif()
