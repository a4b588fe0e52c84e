# Installation and Debian packages (cpack -G DEB from a build configured with
# CMAKE_INSTALL_PREFIX=/usr; scripts/build-packages.sh does both). One component per package;
# the Python package and the Calc extension only where their targets exist.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(kx_deb_release 1)
set(kx_deb_version ${PROJECT_VERSION}-${kx_deb_release})
set(kx_maintainer "KorvaneX developers <korvanex@example.org>")
set(kx_module_dir ${CMAKE_INSTALL_LIBDIR}/korvanex)
set(kx_machine_registry_dir /var/lib/kx-platform/registry)
set(kx_pkg_dir ${PROJECT_SOURCE_DIR}/packaging/debian)
set(kx_pkg_out ${CMAKE_BINARY_DIR}/packaging)

# component -> Debian package name
set(kx_packages
  platform libkx-platform1
  dev korvanex-dev
  component korvanex
  tools kx-tools
  calculator lanternell
  python python3-korvanex
  calc korvanex-calc)

# Every package carries the copyright and a compressed changelog in /usr/share/doc/<package>.
function(kx_package_docs component package)
  set(PACKAGE ${package})
  set(VERSION ${kx_deb_version})
  set(MAINTAINER ${kx_maintainer})
  configure_file(${kx_pkg_dir}/changelog.in ${kx_pkg_out}/${package}/changelog.Debian @ONLY)
  execute_process(COMMAND gzip -9nf ${kx_pkg_out}/${package}/changelog.Debian)
  install(FILES ${kx_pkg_dir}/copyright ${kx_pkg_out}/${package}/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endfunction()

set(kx_components platform dev tools)

# The platform library, and for developers its headers, CMake package and pkg-config file.
install(TARGETS kx_platform EXPORT KorvaneXTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT platform NAMELINK_SKIP)
install(TARGETS kx_platform EXPORT KorvaneXTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev NAMELINK_ONLY)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/include/kx
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/component/interface/ikvquantorb.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/korvanex COMPONENT dev)
set(kx_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/KorvaneX)
install(EXPORT KorvaneXTargets NAMESPACE KorvaneX:: DESTINATION ${kx_cmake_dir} COMPONENT dev)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/KorvaneXConfig.cmake.in
  ${kx_pkg_out}/KorvaneXConfig.cmake INSTALL_DESTINATION ${kx_cmake_dir})
write_basic_package_version_file(${kx_pkg_out}/KorvaneXConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${kx_pkg_out}/KorvaneXConfig.cmake ${kx_pkg_out}/KorvaneXConfigVersion.cmake
        DESTINATION ${kx_cmake_dir} COMPONENT dev)
configure_file(${PROJECT_SOURCE_DIR}/cmake/korvanex.pc.in ${kx_pkg_out}/korvanex.pc @ONLY)
install(FILES ${kx_pkg_out}/korvanex.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT dev)

# Command-line tools and their manual pages (whichever of them docs/man has), compressed.
install(TARGETS kxauto kxregsvr RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
file(GLOB kx_man_pages CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/*.1)
set(kx_man_gz)
foreach(page ${kx_man_pages})
  get_filename_component(name ${page} NAME)
  add_custom_command(OUTPUT ${kx_pkg_out}/man/${name}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${kx_pkg_out}/man
    COMMAND sh -c "gzip -9nc '${page}' > '${kx_pkg_out}/man/${name}.gz'"
    DEPENDS ${page} VERBATIM)
  list(APPEND kx_man_gz ${kx_pkg_out}/man/${name}.gz)
endforeach()
add_custom_target(kx_man_pages ALL DEPENDS ${kx_man_gz})
foreach(gz ${kx_man_gz})
  get_filename_component(name ${gz} NAME)
  if(name MATCHES "^[Ll]anternell")
    set(man_component calculator)
  else()
    set(man_component tools)
  endif()
  if(man_component STREQUAL "tools" OR TARGET Lanternell)
    install(FILES ${gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${man_component})
  endif()
endforeach()

# The component, registered for the machine by its package's scripts.
if(TARGET KorvaneX)
  list(APPEND kx_components component)
  install(TARGETS KorvaneX LIBRARY DESTINATION ${kx_module_dir} COMPONENT component)
  set(MODULE ${CMAKE_INSTALL_FULL_LIBDIR}/korvanex/KorvaneX.so)
  set(REGISTRY_DIR ${kx_machine_registry_dir})
  foreach(script postinst prerm postrm)
    configure_file(${kx_pkg_dir}/korvanex/${script}.in ${kx_pkg_out}/korvanex/${script} @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                   GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endforeach()
endif()

# The calculator, with its menu entry and icon.
if(TARGET Lanternell)
  list(APPEND kx_components calculator)
  install(TARGETS Lanternell RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT calculator)
  install(FILES ${PROJECT_SOURCE_DIR}/calculator/app/lanternell.desktop
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications COMPONENT calculator)
  file(GLOB kx_icon_sizes RELATIVE ${PROJECT_SOURCE_DIR}/calculator/app/resources/icons
       ${PROJECT_SOURCE_DIR}/calculator/app/resources/icons/*)
  foreach(size ${kx_icon_sizes})
    install(FILES ${PROJECT_SOURCE_DIR}/calculator/app/resources/icons/${size}/lanternell.png
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}/apps
            COMPONENT calculator)
  endforeach()
endif()

# The Python package, for Debian's python3: python/ installs it (component python) under
# lib/python3/dist-packages when the prefix is /usr.
if(TARGET kx_python_native)
  list(APPEND kx_components python)
endif()

# The Calc extension, for LibreOffice's extension manager.
if(TARGET korvanex_calc_oxt)
  list(APPEND kx_components calc)
  install(FILES ${CMAKE_BINARY_DIR}/korvanex-calc.oxt
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/korvanex COMPONENT calc)
endif()

foreach(component ${kx_components})
  list(FIND kx_packages ${component} index)
  math(EXPR index "${index} + 1")
  list(GET kx_packages ${index} package)
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
  kx_package_docs(${component} ${package})
endforeach()

# ---- CPack ----
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${kx_components})  # never an "Unspecified" package
set(CPACK_PACKAGE_NAME korvanex)
set(CPACK_PACKAGE_VENDOR "KorvaneX developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${kx_maintainer})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${kx_deb_release})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${kx_maintainer})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The platform library is one of ours: its package is named by hand below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(kx_needs_platform "libkx-platform1 (= ${kx_deb_version})")

set(CPACK_DEBIAN_PLATFORM_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PLATFORM_PACKAGE_CONTROL_EXTRA ${kx_pkg_dir}/libkx-platform1/triggers)
set(CPACK_COMPONENT_PLATFORM_DESCRIPTION "automation runtime of the KorvaneX option pricing component
The small automation runtime that the KorvaneX component and its hosts
share: result codes, texts, variants and arrays, objects and late-bound
dispatch, type information, connection points, a file-backed registry
with a per-user and a machine-wide scope, activation by class and
per-thread message queues.")

set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${kx_needs_platform}")
set(CPACK_DEBIAN_DEV_PACKAGE_RECOMMENDS "korvanex (= ${kx_deb_version})")
set(CPACK_COMPONENT_DEV_DESCRIPTION "development files for KorvaneX clients
Headers of the automation runtime and the component's client interface,
a CMake package (find_package(KorvaneX) gives the imported target
KorvaneX::platform) and a pkg-config file (korvanex), for C++ programs
that create the option pricing object by its ProgID and call it through
its vtable or IDispatch.")

set(CPACK_DEBIAN_COMPONENT_PACKAGE_SECTION science)
set(CPACK_DEBIAN_COMPONENT_PACKAGE_DEPENDS "${kx_needs_platform}, kx-tools (= ${kx_deb_version})")
set(CPACK_DEBIAN_COMPONENT_PACKAGE_CONTROL_EXTRA
    ${kx_pkg_out}/korvanex/postinst ${kx_pkg_out}/korvanex/prerm ${kx_pkg_out}/korvanex/postrm)
set(CPACK_COMPONENT_COMPONENT_DESCRIPTION "stock option pricing automation component
KorvaneX prices stock options: European prices and Greeks by the
generalised Black-Scholes formula, European and American prices and
Greeks on a binomial tree, American prices by the Bjerksund-Stensland
approximation, implied volatilities, skews and historical volatility.
The package registers the Korvane.Quantorb class for every user of the
machine.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${kx_needs_platform}")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "command-line tools for KorvaneX automation objects
kxauto creates any registered automation class and calls its members by
name, one call from the command line or JSON lines in batch; kxregsvr
registers and unregisters server modules, for the user or for the whole
machine.")

set(CPACK_DEBIAN_CALCULATOR_PACKAGE_SECTION science)
set(CPACK_DEBIAN_CALCULATOR_PACKAGE_DEPENDS
    "${kx_needs_platform}, korvanex (= ${kx_deb_version}), qt6-qpa-plugins")
set(CPACK_COMPONENT_CALCULATOR_DESCRIPTION "option pricing calculator
Lanternell is a desktop calculator that hosts the KorvaneX component: it
prices European and American options by the Black-Scholes formula or a
binomial tree, shows their Greeks and finds implied volatilities from
market prices.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "${kx_needs_platform}, python3 (>= 3.11), python3 (<< 3.12), python3-numpy")
set(CPACK_DEBIAN_PYTHON_PACKAGE_RECOMMENDS "korvanex (= ${kx_deb_version})")
set(CPACK_COMPONENT_PYTHON_DESCRIPTION "Python 3 bindings of the KorvaneX option pricing component
The korvanex package calls the KorvaneX component from Python: its
pricing models directly and its automation object through late-bound
dispatch.")

set(CPACK_DEBIAN_CALC_PACKAGE_SECTION editors)
set(CPACK_DEBIAN_CALC_PACKAGE_DEPENDS "korvanex (= ${kx_deb_version})")
set(CPACK_DEBIAN_CALC_PACKAGE_RECOMMENDS "libreoffice-calc")
set(CPACK_COMPONENT_CALC_DESCRIPTION "KorvaneX worksheet functions for LibreOffice Calc
A LibreOffice extension (korvanex-calc.oxt, in /usr/share/korvanex) that
adds the option pricing component's methods as Calc worksheet functions.
Add it with the extension manager or unopkg add.")

include(CPack)
