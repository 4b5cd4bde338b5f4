# The Windows backend: Win32 through the system's own libraries, named here rather than in the
# sources so that MinGW and MSVC both link them.
target_compile_definitions(pellora_backend PUBLIC UNICODE _UNICODE _WIN32_WINNT=0x0A00
  WINVER=0x0A00)
if(MSVC)
  # The runtime's environment functions are the ones named for the job; no "_s" variants wanted.
  target_compile_definitions(pellora_backend PUBLIC _CRT_SECURE_NO_WARNINGS)
endif()
target_link_libraries(pellora_backend PUBLIC winhttp bcrypt gdiplus comctl32 shell32 ole32 runtimeobject netapi32
  user32 gdi32 advapi32)

# Applied to every program built on the installer's entry: the GUI subsystem with the wide
# entry point, and the resources (dialog 9, the banners, the manifest).
function(pellora_backend_program target)
  target_sources(${target} PRIVATE ${PELLORA_MAIN_SOURCE}
    ${PROJECT_SOURCE_DIR}/installer/resources/dialog.rc)
  target_link_libraries(${target} PRIVATE pellora_core)
  set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE ON)
  if(MINGW)
    target_link_options(${target} PRIVATE -municode)
  endif()
endfunction()
