# Installs the header, the shared library with its SONAME links, a CMake
# package (find_package(pq640) -> pq640::pq640) and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS pq640 EXPORT pq640Targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/pq640/pq640.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/pq640)

set(pq640_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/pq640)
install(EXPORT pq640Targets NAMESPACE pq640:: DESTINATION ${pq640_cmake_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/pq640Config.cmake.in
  ${PROJECT_BINARY_DIR}/pq640Config.cmake INSTALL_DESTINATION ${pq640_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/pq640ConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/pq640Config.cmake ${PROJECT_BINARY_DIR}/pq640ConfigVersion.cmake
  DESTINATION ${pq640_cmake_dir})

# Relocatable: the prefix is found from where pkg-config found the file.
file(RELATIVE_PATH pq640_pc_to_prefix "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
configure_file(${PROJECT_SOURCE_DIR}/cmake/pq640.pc.in ${PROJECT_BINARY_DIR}/pq640.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/pq640.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
