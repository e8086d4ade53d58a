# System DLLs that are no KnownDLL (Windows maps those from System32 whatever the search order)
# are delay-loaded: resolved at start-up, Windows would look for them beside the launcher
# first, and the game folder is writable by every user of the machine. WinMain limits the
# search to System32 (SetDefaultDllDirectories) before any call loads one.
#
# Each delay-import library is made from the toolchain's import library: its symbol list
# gives the .def, dlltool --output-delaylib the library.
find_program(KM_DLLTOOL x86_64-w64-mingw32-dlltool REQUIRED)
find_program(KM_NM x86_64-w64-mingw32-nm REQUIRED)

function(km_delay_import_library lib dll out_var)
  find_library(import_${lib} ${lib} REQUIRED)
  set(folder ${CMAKE_BINARY_DIR}/delay-imports)
  set(def ${folder}/${lib}.def)
  set(out ${folder}/lib${lib}_delay.a)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DNM=${KM_NM} -DIMPORT=${import_${lib}} -DDLL=${dll} -DDEF=${def}
            -P ${CMAKE_SOURCE_DIR}/cmake/write_def.cmake
    COMMAND ${KM_DLLTOOL} --input-def ${def} --output-delaylib ${out} --dllname ${dll}
    DEPENDS ${import_${lib}} ${CMAKE_SOURCE_DIR}/cmake/write_def.cmake
    COMMENT "Delay-import library for ${dll}")
  set(${out_var} ${out} PARENT_SCOPE)
endfunction()

set(KM_DELAY_LIBS)
foreach(pair wininet:WININET.dll bcrypt:bcrypt.dll rstrtmgr:RstrtMgr.dll gdiplus:gdiplus.dll oleacc:oleacc.dll)
  string(REPLACE ":" ";" parts ${pair})
  list(GET parts 0 lib)
  list(GET parts 1 dll)
  km_delay_import_library(${lib} ${dll} library)
  list(APPEND KM_DELAY_LIBS ${library})
endforeach()
add_custom_target(km_delay_imports DEPENDS ${KM_DELAY_LIBS})
