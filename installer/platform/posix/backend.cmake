# The POSIX backend: thin mappings onto POSIX and the stand-in for what Windows provides.
target_link_libraries(pellora_backend PUBLIC standin)

# Applied to every program built on the installer's entry (pellora, the tests' driver).
function(pellora_backend_program target)
  target_sources(${target} PRIVATE ${PELLORA_MAIN_SOURCE})
  target_link_libraries(${target} PRIVATE pellora_core)
  # The deployment service is loaded from its module when a deployment starts. Copies of the
  # program run from anywhere (a package folder, the temporary folder), so besides a lib/
  # folder next to the program the build's own lib/ folder is searched.
  add_dependencies(${target} standin-deployment)
  set(rpath "$ORIGIN/../lib;${CMAKE_LIBRARY_OUTPUT_DIRECTORY}")
  set_target_properties(${target} PROPERTIES BUILD_RPATH "${rpath}" INSTALL_RPATH "${rpath}")
  target_link_options(${target} PRIVATE "LINKER:--enable-new-dtags")
endfunction()
