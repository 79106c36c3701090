# The release package: Kestrune-<version>-win32.zip holding one folder of the
# same name with the DLL, its header, the probe, the README and the nginx
# snippet for the time service. Made with `cpack --preset win32`.
install(FILES $<TARGET_FILE:Kestrune> $<TARGET_FILE:kestrune-probe>
              ${PROJECT_SOURCE_DIR}/module/kestrune.h
              ${PROJECT_SOURCE_DIR}/README.md
              ${PROJECT_SOURCE_DIR}/tools/nginx-time-service.conf
        DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Kestrune)
set(CPACK_PACKAGE_VENDOR Kestrune)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Kestrune-${PROJECT_VERSION}-win32)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
