# The Windows SDK archive, pq640-<version>-win32.zip or -win64.zip: the DLL,
# its import library and .def file, the header, the C example and a README for
# Windows hosts. `cpack` (or the `package` target) in a mingw build makes it.
install(TARGETS pq640
  RUNTIME DESTINATION bin
  ARCHIVE DESTINATION lib)
install(FILES ${PROJECT_SOURCE_DIR}/include/pq640/pq640.h DESTINATION include/pq640)
install(FILES ${PROJECT_SOURCE_DIR}/src/platform/win32/pq640.def DESTINATION lib)
install(FILES ${PROJECT_SOURCE_DIR}/examples/check_link.c DESTINATION examples)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/README-windows.txt DESTINATION . RENAME README.txt)
# The .NET binding as source: a netstandard2.0 project a host's solution references
# (dotnet/README.md); it loads the pq640.dll beside the host program.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/dotnet/ DESTINATION dotnet
  FILES_MATCHING PATTERN "*.cs" PATTERN "*.csproj" PATTERN "README.md"
  PATTERN "bin" EXCLUDE PATTERN "obj" EXCLUDE)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(pq640_windows_arch win64)
else()
  set(pq640_windows_arch win32)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME pq640)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME pq640-${PROJECT_VERSION}-${pq640_windows_arch})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
