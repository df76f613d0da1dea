# The Debian package tools/package makes: what the installed program needs is found by
# dpkg-shlibdeps from its shared libraries; only the plugins Qt loads at run time (the window
# system and the SVG icons) are named by hand, since no library links them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tessel Development")
set(CPACK_PACKAGE_CONTACT "Tessel Development <${ORVEX_SUPPORT_ADDRESS}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keeps link deals and checks that partner pages carry the links")
# The summary above is the synopsis line; this is the long description under it.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Orvex keeps every link a webmaster bought or exchanged, with its partner,\n"
    "payments and expiry, and checks each partner page over HTTP: the link must\n"
    "point to the right page with the right anchor text, be followed and not be\n"
    "shut out by robots.txt. It mails the user when a link changes, also from an\n"
    "unattended weekly run, and keeps a history of every check with its evidence.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${ORVEX_WEB_SITE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cron")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE ORVEX_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE
                ERROR_QUIET)
if(NOT ORVEX_DEB_ARCH)
    set(ORVEX_DEB_ARCH amd64)
endif()
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${ORVEX_DEB_ARCH})
set(CPACK_DEBIAN_FILE_NAME "orvex_${PROJECT_VERSION}_${ORVEX_DEB_ARCH}.deb")
include(CPack)
