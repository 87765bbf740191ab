# Install layout and the Debian package.
#
# The station loads libmodbus485.so from its own folder, so both live in a private folder under the
# library directory; bin/ holds a launcher that creates the reading log and then runs the station.

include(GNUInstallDirs)

set(VX310_PRIVATE_DIR "${CMAKE_INSTALL_LIBDIR}/vx310")
set(VX310_PACKAGING_DIR "${PROJECT_SOURCE_DIR}/packaging")

# The launcher reaches the station relative to itself, so a package and `--prefix` both work.
# From the FULL variables: on Debian with prefix /usr the library directory is lib/<multiarch>.
file(RELATIVE_PATH VX310_STATION_FROM_BINDIR
    "${CMAKE_INSTALL_FULL_BINDIR}" "${CMAKE_INSTALL_FULL_LIBDIR}/vx310")

# True when `target` links modbus485, directly or through the libraries it links.
function(vx310_links_modbus485 target result)
    set(seen "")
    set(pending "${target}")
    while(pending)
        list(POP_FRONT pending current)
        if(current IN_LIST seen)
            continue()
        endif()
        list(APPEND seen "${current}")
        get_target_property(aliased "${current}" ALIASED_TARGET)
        if(aliased)
            list(APPEND pending "${aliased}")
            continue()
        endif()
        get_target_property(imported "${current}" IMPORTED)
        if(imported)
            continue()
        endif()
        foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
            get_target_property(libraries "${current}" ${property})
            if(NOT libraries)
                continue()
            endif()
            foreach(library IN LISTS libraries)
                string(REGEX REPLACE "^\\$<LINK_ONLY:(.+)>$" "\\1" library "${library}")
                if(library STREQUAL "modbus485")
                    set(${result} TRUE PARENT_SCOPE)
                    return()
                endif()
                if(TARGET "${library}")
                    list(APPEND pending "${library}")
                endif()
            endforeach()
        endforeach()
    endwhile()
    set(${result} FALSE PARENT_SCOPE)
endfunction()

# Installed programs that link the library find it in the private folder without LD_LIBRARY_PATH.
function(vx310_private_rpath target install_dir)
    vx310_links_modbus485(${target} links)
    if(links)
        file(RELATIVE_PATH to_private
            "${CMAKE_INSTALL_PREFIX}/${install_dir}" "${CMAKE_INSTALL_PREFIX}/${VX310_PRIVATE_DIR}")
        if(to_private STREQUAL "")
            set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
        else()
            set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${to_private}")
        endif()
    endif()
endfunction()

install(TARGETS vx310 RUNTIME DESTINATION "${VX310_PRIVATE_DIR}")
# Shared objects are data to the loader: no execute bit.
install(TARGETS modbus485 LIBRARY DESTINATION "${VX310_PRIVATE_DIR}"
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
vx310_private_rpath(vx310 "${VX310_PRIVATE_DIR}")

set(VX310_TOOLS vx310-meter-sim vx310-initdb vx310-port)
if(TARGET vx310-export)
    list(APPEND VX310_TOOLS vx310-export)
endif()
if(TARGET vx310-publish)
    list(APPEND VX310_TOOLS vx310-publish)
endif()
install(TARGETS ${VX310_TOOLS} RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
foreach(tool IN LISTS VX310_TOOLS)
    vx310_private_rpath(${tool} "${CMAKE_INSTALL_BINDIR}")
endforeach()

configure_file("${VX310_PACKAGING_DIR}/vx310.sh.in" "${CMAKE_CURRENT_BINARY_DIR}/packaging/vx310"
    @ONLY)
install(PROGRAMS "${CMAKE_CURRENT_BINARY_DIR}/packaging/vx310"
    DESTINATION "${CMAKE_INSTALL_BINDIR}")

# The publisher as a user service; systemd looks for user units under share/ too, so the
# package and a `--prefix ~/.local` install both work.
# A unit names its program by an absolute path, known only when the install runs.
if(TARGET vx310-publish)
    set(VX310_UNIT "${CMAKE_CURRENT_BINARY_DIR}/packaging/install/vx310-publish.service")
    install(CODE "
        set(bindir \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
        configure_file(\"${VX310_PACKAGING_DIR}/vx310-publish.service.in\" \"${VX310_UNIT}\"
            @ONLY)")
    install(FILES "${VX310_UNIT}" DESTINATION "${CMAKE_INSTALL_DATADIR}/systemd/user")
endif()

install(FILES "${VX310_PACKAGING_DIR}/vx310.desktop"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${VX310_PACKAGING_DIR}/vx310.metainfo.xml"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo"
    RENAME org.vx310.station.metainfo.xml)
foreach(size 48 128 256)
    install(FILES "${VX310_PACKAGING_DIR}/icons/vx310-${size}.png"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps"
        RENAME vx310.png)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vx310)
set(CPACK_PACKAGE_VENDOR "VX310 team")
set(CPACK_PACKAGE_CONTACT "VX310 team <team@vx310.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Station for a three-phase multifunction meter on Modbus RTU")
set(CPACK_PACKAGE_DESCRIPTION
    "Shows the live readings and alarm relays of one three-phase meter on an RS-485 line, records a
snapshot every second into an SQLite reading log, draws trend curves and configures the meter.
Comes with a meter simulator, the database tool, a CSV export and a publisher that sends every
recorded snapshot to an MQTT broker.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY vx310)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "VX310 team <team@vx310.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# For any program that links the meter-access library, which has no shlibs entry of its own.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${CMAKE_LIBRARY_OUTPUT_DIRECTORY}")
# Neither the font nor the SQLite driver (a Qt plugin) shows up in the linked libraries.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei, libqt6sql6-sqlite")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
