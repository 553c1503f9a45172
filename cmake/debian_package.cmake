# The Debian package for Linux desktops, made with CPack: the target `deb` of the linux build writes
# deb/formwell_<version>_amd64.deb. It holds formwell in /usr/bin (the program carries the whole
# application package and installs it for each user at the first start), formdesk with the gbconv
# library it loads from beside itself in /usr/libexec/formwell once formdesk is built, the desktop entry
# that puts the kit into the applications menu under its Chinese name, and the kit's icon. It
# depends on the Debian libraries the programs link (found by dpkg-shlibdeps) and on qrencode, the
# encoder that formdesk starts on Linux, and on a font with Chinese glyphs (Debian's plain desktop
# has none, and the dialogs would show boxes). It carries its copyright file, a changelog, and a
# manual page, and is made reproducibly: the changelog's date and every member's time are
# FORMWELL_SOURCE_DATE_EPOCH.
if(WIN32 OR FORMWELL_SANITIZE)
  return()
endif()

set(FORMWELL_PACKAGE_VERSION "1.0.0.0" CACHE STRING "The version that the Debian package carries")
set(FORMWELL_PACKAGE_REVISION "1" CACHE STRING "The Debian revision of the package (its version is VERSION-REVISION)")
set(FORMWELL_DEB_MAINTAINER "Formwell maintainers <formwell@example.org>" CACHE STRING
    "The Debian package's maintainer, \"Name <address>\": the bank's release team")

install(TARGETS formwell RUNTIME DESTINATION bin)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/formwell.desktop DESTINATION share/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/formwell.svg DESTINATION share/icons/hicolor/scalable/apps)
foreach(size 48 256)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/formwell-${size}.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME formwell.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright DESTINATION share/doc/formwell)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/lintian-overrides DESTINATION share/lintian/overrides
        RENAME formwell)

# The changelog and the manual page, compressed without a name or time inside.
set(deb_gen ${CMAKE_BINARY_DIR}/deb-files)
file(MAKE_DIRECTORY ${deb_gen})
execute_process(COMMAND date -u -R -d @${FORMWELL_SOURCE_DATE_EPOCH} OUTPUT_VARIABLE deb_date
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
file(WRITE ${deb_gen}/changelog.Debian
"formwell (${FORMWELL_PACKAGE_VERSION}-${FORMWELL_PACKAGE_REVISION}) stable; urgency=medium

  * Release ${FORMWELL_PACKAGE_VERSION} of the Formwell kit.

 -- ${FORMWELL_DEB_MAINTAINER}  ${deb_date}
")
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/formwell.1 ${deb_gen}/formwell.1 COPYONLY)
foreach(f changelog.Debian formwell.1)
  execute_process(COMMAND gzip -n -9 -f -k ${deb_gen}/${f} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
install(FILES ${deb_gen}/changelog.Debian.gz DESTINATION share/doc/formwell)
install(FILES ${deb_gen}/formwell.1.gz DESTINATION share/man/man1)

# formdesk joins once it is built here (its directory may come after this file is read).
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL formwell_install_formdesk)
function(formwell_install_formdesk)
  if(TARGET formdesk)
    # In libexec, not lib: libgbconv.so is formdesk's private library, not one for the linker's
    # cache (a library under /usr/lib/* would make CPack add ldconfig calls that lintian rejects).
    install(TARGETS formdesk gbconv RUNTIME DESTINATION libexec/formwell LIBRARY DESTINATION libexec/formwell)
  endif()
endfunction()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME formwell)
set(CPACK_PACKAGE_VERSION ${FORMWELL_PACKAGE_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${FORMWELL_PACKAGE_REVISION})
set(CPACK_PACKAGE_VENDOR "Orvanta")
set(CPACK_PACKAGE_CONTACT "${FORMWELL_DEB_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Velor服务平台自助申请软件: self-service application forms for the Velor platform")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "The kit installs its application package for each user at the first start,\n"
    "keeps it current from the bank's update servers, and shows the application\n"
    "forms, which save their data and print with a QR code of their signature.")
string(JOIN "" CPACK_DEBIAN_PACKAGE_DESCRIPTION ${CPACK_DEBIAN_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # formwell_<version>_<architecture>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# HanaMinB prints the rare characters (CJK Extension B) of names and addresses that the common CJK fonts lack.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qrencode, fonts-noto-cjk | fonts-wqy-microhei, fonts-hanazono")
set(CPACK_STRIP_FILES ON)
# Folders as Debian has them, whatever the umask of the machine that builds.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
include(CPack)

add_custom_target(deb
  COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${FORMWELL_SOURCE_DATE_EPOCH}
          ${CMAKE_CPACK_COMMAND} -G DEB --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake -B ${CMAKE_BINARY_DIR}/deb
  DEPENDS formwell
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  COMMENT "Making the Debian package"
  VERBATIM)
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL formwell_deb_after_formdesk)
function(formwell_deb_after_formdesk)
  if(TARGET formdesk)
    add_dependencies(deb formdesk gbconv)
  endif()
endfunction()
