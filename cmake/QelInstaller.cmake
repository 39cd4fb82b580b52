# qel_add_installer(<name>
#     SETTINGS <settings.lua> INSTALL <install.lua> UNINSTALL <uninstall.lua>
#     PAYLOAD <folder> SKIN <folder>
#     [PAYLOAD_SWITCHES <7zz switches...>] [PAYLOAD_DEPENDS <targets or files...>]
#     [AS_SOURCE <GLOBAL_VAR|INSTSCRIPT|UNINSTSCRIPT...>])
#
# AS_SOURCE carries the named scripts as source text instead of bytecode (the engine loads both;
# a script that does not compile can only be carried this way).
# Builds one installer executable from the installer's code and its resources: the three scripts
# compiled to 32-bit Lua 5.2 bytecode ("LUA" "GLOBAL_VAR.LUAC", "INSTSCRIPT.LUAC",
# "UNINSTSCRIPT.LUAC"), the payload folder as "_7Z" "APP.7Z" (first two bytes exchanged), the skin
# folder as "ZIP" 249 (language 2052), icon 128, a version resource whose file version is the
# settings script's global_version, and the manifest. The executable lands in ${QEL_BIN_DIR}.

set(QEL_RESOURCES_PY ${CMAKE_SOURCE_DIR}/tools/resources.py)
set(QEL_INSTALLER_MANIFEST ${CMAKE_SOURCE_DIR}/cmake/installer.manifest)
set(QEL_INSTALLER_ICON ${CMAKE_BINARY_DIR}/generated/installer.ico)
set(QEL_INSTALLER_STRINGS ${CMAKE_SOURCE_DIR}/cmake/installer_strings.rc)

add_custom_command(OUTPUT ${QEL_INSTALLER_ICON}
  COMMAND ${QEL_PYTHON} ${QEL_RESOURCES_PY} icon ${QEL_INSTALLER_ICON}
  DEPENDS ${QEL_RESOURCES_PY}
  COMMENT "installer icon")
add_custom_target(qel_installer_icon DEPENDS ${QEL_INSTALLER_ICON})

function(qel_read_version settings out)
  file(READ "${settings}" text)
  if(text MATCHES "global_version[ \t]*=[ \t]*\"([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)\"")
    set(${out} "${CMAKE_MATCH_1},${CMAKE_MATCH_2},${CMAKE_MATCH_3},${CMAKE_MATCH_4}" PARENT_SCOPE)
  else()
    set(${out} "0,0,0,0" PARENT_SCOPE)
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${settings}")
endfunction()

# qel_settings_variant(<output.lua> BASE <settings.lua> SET <assignment>...)
#
# Writes, at configure time, a copy of a settings script with assignments appended. A later
# assignment of a global overrides the earlier one, so a variant differs from its base only in
# the settings it names, and follows every other change of the base.
function(qel_settings_variant output)
  cmake_parse_arguments(A "" "BASE" "SET" ${ARGN})
  if(NOT A_BASE OR NOT A_SET)
    message(FATAL_ERROR "qel_settings_variant(${output}): BASE and SET are required")
  endif()
  file(READ "${A_BASE}" text)
  string(APPEND text "\n-- settings of this variant\n")
  foreach(assignment IN LISTS A_SET)
    string(APPEND text "${assignment}\n")
  endforeach()
  set(written "")
  if(EXISTS "${output}")
    file(READ "${output}" written)
  endif()
  if(NOT written STREQUAL text)
    file(WRITE "${output}" "${text}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${A_BASE}")
endfunction()

function(qel_compile_script source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${QEL_LUAC} -o ${output} ${source}
    DEPENDS ${source}
    COMMENT "luac ${source}")
endfunction()

function(qel_copy_script source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${output}
    DEPENDS ${source})
endfunction()

function(qel_add_installer name)
  cmake_parse_arguments(A "" "SETTINGS;INSTALL;UNINSTALL;PAYLOAD;SKIN" "PAYLOAD_SWITCHES;PAYLOAD_DEPENDS;AS_SOURCE" ${ARGN})
  foreach(required SETTINGS INSTALL UNINSTALL PAYLOAD SKIN)
    if(NOT A_${required})
      message(FATAL_ERROR "qel_add_installer(${name}): ${required} is required")
    endif()
    get_filename_component(A_${required} "${A_${required}}" ABSOLUTE)
  endforeach()

  set(gen ${CMAKE_CURRENT_BINARY_DIR}/${name}.resources)
  file(MAKE_DIRECTORY ${gen})
  foreach(script SETTINGS:GLOBAL_VAR INSTALL:INSTSCRIPT UNINSTALL:UNINSTSCRIPT)
    string(REPLACE ":" ";" script "${script}")
    list(GET script 0 role)
    list(GET script 1 resource)
    if(resource IN_LIST A_AS_SOURCE)
      qel_copy_script(${A_${role}} ${gen}/${resource}.LUAC)
    else()
      qel_compile_script(${A_${role}} ${gen}/${resource}.LUAC)
    endif()
  endforeach()

  file(GLOB_RECURSE payload_files CONFIGURE_DEPENDS "${A_PAYLOAD}/*")
  add_custom_command(OUTPUT ${gen}/APP.7Z
    COMMAND ${QEL_PYTHON} ${QEL_RESOURCES_PY} payload ${A_PAYLOAD} ${gen}/APP.7Z ${A_PAYLOAD_SWITCHES}
    DEPENDS ${payload_files} ${A_PAYLOAD_DEPENDS} ${QEL_RESOURCES_PY}
    COMMENT "payload ${A_PAYLOAD}")

  file(GLOB_RECURSE skin_files CONFIGURE_DEPENDS "${A_SKIN}/*")
  add_custom_command(OUTPUT ${gen}/skin.zip
    COMMAND ${QEL_PYTHON} ${QEL_RESOURCES_PY} skin ${A_SKIN} ${gen}/skin.zip
    DEPENDS ${skin_files} ${QEL_RESOURCES_PY}
    COMMENT "skin package ${A_SKIN}")

  qel_read_version(${A_SETTINGS} version)
  string(REPLACE "," "." version_text "${version}")
  set(resources ${gen}/GLOBAL_VAR.LUAC ${gen}/INSTSCRIPT.LUAC ${gen}/UNINSTSCRIPT.LUAC
                ${gen}/APP.7Z ${gen}/skin.zip ${QEL_INSTALLER_ICON} ${QEL_INSTALLER_MANIFEST} ${QEL_INSTALLER_STRINGS})
  set(rc ${gen}/installer.rc)
  file(GENERATE OUTPUT ${rc} CONTENT "#include <windows.h>
128 ICON \"${QEL_INSTALLER_ICON}\"
1 24 \"${QEL_INSTALLER_MANIFEST}\"
#include \"${QEL_INSTALLER_STRINGS}\"
GLOBAL_VAR.LUAC LUA \"${gen}/GLOBAL_VAR.LUAC\"
INSTSCRIPT.LUAC LUA \"${gen}/INSTSCRIPT.LUAC\"
UNINSTSCRIPT.LUAC LUA \"${gen}/UNINSTSCRIPT.LUAC\"
APP.7Z _7Z \"${gen}/APP.7Z\"
LANGUAGE 4, 2
249 ZIP \"${gen}/skin.zip\"
LANGUAGE 0, 0
1 VERSIONINFO
FILEVERSION ${version}
PRODUCTVERSION ${version}
FILEOS 0x40004
FILETYPE 0x1
BEGIN
  BLOCK \"StringFileInfo\"
  BEGIN
    BLOCK \"080404b0\"
    BEGIN
      VALUE \"CompanyName\", \"Tarvik\"
      VALUE \"FileDescription\", \"Navolo Setup\"
      VALUE \"FileVersion\", \"${version_text}\"
      VALUE \"ProductName\", \"Navolo\"
      VALUE \"ProductVersion\", \"${version_text}\"
    END
  END
  BLOCK \"VarFileInfo\"
  BEGIN
    VALUE \"Translation\", 0x804, 1200
  END
END
")
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${resources}")
  add_executable(${name} WIN32 ${CMAKE_SOURCE_DIR}/qelsetup/qelinstaller/main.cpp ${rc})
  target_link_libraries(${name} PRIVATE qel_installer_core)
  add_dependencies(${name} qel_installer_icon)
  target_link_options(${name} PRIVATE -municode)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${QEL_BIN_DIR})
endfunction()
