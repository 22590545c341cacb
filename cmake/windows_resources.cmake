# brelin_windows_resources(TARGET "File description"): gives a Windows program what Windows users
# expect of it: the version and names that File properties show, the application icon (id 1, made
# from gui/icons/brelin-*.png at build time) and the embedded manifest (dist/windows).
enable_language(RC)
find_program(ICOTOOL icotool REQUIRED)  # icoutils

set(BRELIN_ICON ${PROJECT_BINARY_DIR}/brelin.ico)
set(icon_sizes 16 32 48 64 128)
list(TRANSFORM icon_sizes REPLACE "(.+)" "${PROJECT_SOURCE_DIR}/gui/icons/brelin-\\1.png"
     OUTPUT_VARIABLE icon_pngs)
# The 256-pixel image is stored as PNG, as Windows Vista and later expect it.
add_custom_command(OUTPUT ${BRELIN_ICON}
  COMMAND ${ICOTOOL} -c -o ${BRELIN_ICON} ${icon_pngs}
          --raw=${PROJECT_SOURCE_DIR}/gui/icons/brelin-256.png
  DEPENDS ${icon_pngs} ${PROJECT_SOURCE_DIR}/gui/icons/brelin-256.png
  COMMENT "Application icon" VERBATIM)
add_custom_target(brelin_icon DEPENDS ${BRELIN_ICON})

# Windows versions have four parts: 1.2.0.0, and 1,2,0,0 in the resource script.
set(BRELIN_VERSION_QUAD
    "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
string(REPLACE "." "," BRELIN_VERSION_COMMAS "${BRELIN_VERSION_QUAD}")

function(brelin_windows_resources target description)
  set(BRELIN_RESOURCE_NAME ${target})
  set(BRELIN_FILE_DESCRIPTION "${description}")
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources)
  set(BRELIN_MANIFEST ${dir}/${target}.manifest)
  configure_file(${PROJECT_SOURCE_DIR}/dist/windows/brelin.manifest.in ${BRELIN_MANIFEST} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/dist/windows/resources.rc.in ${dir}/resources.rc @ONLY)
  target_sources(${target} PRIVATE ${dir}/resources.rc)
  # windres reads the icon and the manifest, which the build does not see as dependencies.
  set_source_files_properties(${dir}/resources.rc PROPERTIES
    OBJECT_DEPENDS "${BRELIN_ICON};${BRELIN_MANIFEST}")
  add_dependencies(${target} brelin_icon)
endfunction()
