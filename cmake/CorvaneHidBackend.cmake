# SPDX-License-Identifier: GPL-3.0-or-later
# corvane_hid: the hidapi implementation that the programs link.
# Libraries never link hidapi themselves, so tests can put the emulator in its place.
add_library(corvane_hid INTERFACE)
if(CORVANE_HID_BACKEND STREQUAL "system" AND WIN32)
    # hidapi's Windows backend, built by tools/scripts/build-windows.sh.
    find_package(hidapi REQUIRED CONFIG)
    target_link_libraries(corvane_hid INTERFACE hidapi::winapi)
elseif(CORVANE_HID_BACKEND STREQUAL "system")
    pkg_check_modules(HIDAPI REQUIRED IMPORTED_TARGET hidapi-hidraw)
    target_link_libraries(corvane_hid INTERFACE PkgConfig::HIDAPI)
elseif(CORVANE_HID_BACKEND STREQUAL "emulator")
    # Resolved after tools/emulator has been added.
    set(CORVANE_HID_USES_EMULATOR ON)
elseif(EXISTS "${CORVANE_HID_BACKEND}")
    target_link_libraries(corvane_hid INTERFACE "${CORVANE_HID_BACKEND}")
else()
    message(FATAL_ERROR "CORVANE_HID_BACKEND must be system, emulator or an existing library file (got '${CORVANE_HID_BACKEND}')")
endif()
# hidapi's header is needed by the device layer whatever implements it.
if(WIN32)
    find_path(HIDAPI_HEADERS_INCLUDE_DIRS hidapi.h PATH_SUFFIXES hidapi REQUIRED)
else()
    pkg_check_modules(HIDAPI_HEADERS REQUIRED hidapi-hidraw)
endif()
