# The resources the program carries: matrix_add_resource(TYPE NAME FILE).
# Files produced by the build get an add_custom_command(OUTPUT ...) first, so the resource is
# rebuilt whenever its sources change. Each resource group keeps its rules in its own file.
foreach(group skin banner sample)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${group}.cmake)
    include(${CMAKE_CURRENT_SOURCE_DIR}/${group}.cmake)
  endif()
endforeach()
