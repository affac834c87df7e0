# What cmake --install puts under the prefix:
#   bin/aobench                           the benchmark
#   lib/libkav_*.a                        the framework's libraries
#   lib/kav/startup/...                   the start-up unit's object file
#   include/kav/base/..., include/kav/3d/...   the framework's headers
#   lib/cmake/KavFramework/               the package
#
# find_package(KavFramework) gives Kav::framework: every library, and the
# start-up unit's object file handed to the consumer's linker, so the class
# registry is filled before main in the consumer's program too. The targets
# of the single subsystems (Kav::thread, Kav::stream, Kav::sl, Kav::util,
# Kav::bitmap) come along for the dependencies between them; a program links
# Kav::framework.
include(CMakePackageConfigHelpers)

set(kav_framework_libraries kav_thread kav_stream kav_sl kav_util kav_bitmap)
foreach(library IN LISTS kav_framework_libraries)
  string(REGEX REPLACE "^kav_" "" export_name ${library})
  set_target_properties(${library} PROPERTIES EXPORT_NAME ${export_name})
endforeach()
set_target_properties(kav_startup PROPERTIES EXPORT_NAME startup)
set_target_properties(kav_framework PROPERTIES EXPORT_NAME framework)

set(kav_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/KavFramework)

install(TARGETS aobench RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ${kav_framework_libraries} kav_startup kav_framework
        EXPORT KavFrameworkTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        OBJECTS DESTINATION ${CMAKE_INSTALL_LIBDIR}/kav/startup)
foreach(subsystem base 3d)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${subsystem}/
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kav/${subsystem}
          FILES_MATCHING PATTERN "*.h")
endforeach()

install(EXPORT KavFrameworkTargets NAMESPACE Kav:: DESTINATION ${kav_package_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/KavFrameworkConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/KavFrameworkConfig.cmake
                              INSTALL_DESTINATION ${kav_package_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KavFrameworkConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/KavFrameworkConfig.cmake ${PROJECT_BINARY_DIR}/KavFrameworkConfigVersion.cmake
        DESTINATION ${kav_package_dir})
