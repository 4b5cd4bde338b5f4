# The POSIX backend: thin mappings onto POSIX and the stand-in for what Windows provides.
target_link_libraries(pellora_backend PUBLIC standin)
# The deployment service is a module loaded when a deployment starts (deployment_posix.cpp).
target_compile_definitions(pellora_backend PRIVATE
  TREVALON_STANDIN_MODULE_DIR="$<TARGET_FILE_DIR:standin-deployment>")

# Applied to every program built on the installer's entry (pellora, the tests' driver).
function(pellora_backend_program target)
  target_sources(${target} PRIVATE ${PELLORA_MAIN_SOURCE})
  target_link_libraries(${target} PRIVATE pellora_core)
  add_dependencies(${target} standin-deployment)
  if(TREVALON_STATIC_RUNTIME)
    # Every start of the installed application goes through this program: without the C++
    # runtime to map and bind it reaches the application in about two thirds of the time.
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
endfunction()
# openpty for the terminal view's tests.
if(TREVALON_BUILD_TESTS)
  target_link_libraries(pellora_backend INTERFACE util)
endif()
