# 32-bit Windows: the plugin DLL, the stand-in host and the test modules that
# run inside it under Wine.

# SSE arithmetic: IEEE single and double results, no x87 excess precision, and
# no x87 loads that would quiet a signalling NaN on its way through.
add_compile_options(-msse2 -mfpmath=sse)
target_compile_options(settings_reader PRIVATE -msse2 -mfpmath=sse)

# Nothing but system DLLs at run time: the C and C++ runtimes and the thread
# library go into each binary.
set(STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

# Patch primitives; the host binding on top of them; the call-site hooks and
# the frame event on top of both.
add_library(codepatch STATIC codepatch/memory.cpp codepatch/branch.cpp)
target_include_directories(codepatch PUBLIC ${CMAKE_SOURCE_DIR})
project_warnings(codepatch)

add_library(hostbinding STATIC host/HostBuild.cpp host/PluginPaths.cpp)
target_link_libraries(hostbinding PUBLIC codepatch user32)
project_warnings(hostbinding)

add_library(frame_event STATIC codepatch/FrameEvent.cpp)
target_link_libraries(frame_event PUBLIC hostbinding)
project_warnings(frame_event)

add_library(AimingPlugin SHARED
  plugin/AimingPlugin.cpp plugin/AimSettings.cpp plugin/AimPointHook.cpp plugin/FrameInput.cpp)
set_target_properties(AimingPlugin PROPERTIES PREFIX "" OUTPUT_NAME AimingPlugin)
target_link_libraries(AimingPlugin PRIVATE settings_reader frame_event ${STATIC_RUNTIME})
target_link_options(AimingPlugin PRIVATE -Wl,--exclude-all-symbols)
project_warnings(AimingPlugin)

# What a player copies next to the game.
set(DIST_DIR ${CMAKE_SOURCE_DIR}/dist)
add_custom_command(TARGET AimingPlugin POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E make_directory ${DIST_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:AimingPlugin> ${DIST_DIR}/AimingPlugin.dll
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/settings/aimingSets.dat ${DIST_DIR}/aimingSets.dat
  VERBATIM)

add_subdirectory(standin_host)
add_subdirectory(tests)
add_subdirectory(benchmarks)
