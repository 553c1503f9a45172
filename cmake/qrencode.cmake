# The QR encoder that the Windows package carries in its qrencode/ folder, as the target
# formwell_qrencode and its program file FORMWELL_QRENCODE_EXE (Windows builds only).
# cmake/build_qrencode.sh fetches Debian's sources of qrencode 4.1.1 and libpng1.6 (checked against
# their .dsc), and links them with Debian's mingw zlib into one static qrencode.exe for this build's
# architecture, with the kit's application manifest (cmake/windows.manifest). It runs once per build
# tree: the sources stay in _deps/qrencode/src and the program is rebuilt only when it is missing or
# the script or the manifest changes. Nothing of it is committed.
if(NOT WIN32 OR TARGET formwell_qrencode)
  return()
endif()

set(FORMWELL_QRENCODE_EXE ${CMAKE_BINARY_DIR}/_deps/qrencode/qrencode.exe
    CACHE INTERNAL "the QR encoder program for the Windows package")
add_custom_command(
  OUTPUT ${FORMWELL_QRENCODE_EXE}
  COMMAND bash ${PROJECT_SOURCE_DIR}/cmake/build_qrencode.sh ${CMAKE_C_COMPILER}
          ${CMAKE_BINARY_DIR}/_deps/qrencode ${FORMWELL_QRENCODE_EXE} ${PROJECT_SOURCE_DIR}/cmake/windows.manifest
  DEPENDS ${PROJECT_SOURCE_DIR}/cmake/build_qrencode.sh ${PROJECT_SOURCE_DIR}/cmake/windows.manifest
  COMMENT "Building qrencode.exe from Debian's qrencode and libpng sources"
  VERBATIM)
add_custom_target(formwell_qrencode ALL DEPENDS ${FORMWELL_QRENCODE_EXE})
