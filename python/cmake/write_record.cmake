# Run at install time: writes the RECORD of the pq640 distribution (every
# installed file of the package, relative to site-packages), so that pip
# show and pip uninstall know a package installed by CMake.
# In: PQ640_SITE (site-packages, as installed), PQ640_DIST_INFO (folder name).
set(site "$ENV{DESTDIR}${PQ640_SITE}")
file(GLOB_RECURSE installed RELATIVE "${site}" "${site}/pq640/*" "${site}/${PQ640_DIST_INFO}/*")
list(FILTER installed EXCLUDE REGEX "__pycache__|/RECORD$")
list(SORT installed)
set(record "")
foreach(path IN LISTS installed)
  # pip accepts a RECORD line without a hash.
  file(SIZE "${site}/${path}" size)
  string(APPEND record "${path},,${size}\n")
endforeach()
string(APPEND record "${PQ640_DIST_INFO}/RECORD,,\n")
file(WRITE "${site}/${PQ640_DIST_INFO}/RECORD" "${record}")
message(STATUS "Installing: ${site}/${PQ640_DIST_INFO}/RECORD")
