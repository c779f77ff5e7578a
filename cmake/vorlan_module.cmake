# vorlan_add_module(<folder>
#     [CORE <target>]          static library of <folder>/core/**/*.cpp (default <folder>_core);
#                              skipped when the folder has no core sources
#     [CORE_LINKS <targets>..] what the core library links publicly (default vorlan_common)
#     [MODULE <target>]        extension-module target (default <folder>)
#     [OUTPUT_NAME <name>]     file name of the module when it differs from its target
#     [SOURCES <files>..])     module sources (default <folder>/bind/*.cpp)
#
# Builds a deliverable the way every folder under src/vorlan/ is laid out: plain C++ in
# core/, the Python binding in bind/. The module links the core library (or the shared
# helpers when there is none) and installs into the package folder.
function(vorlan_add_module folder)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "CORE;MODULE;OUTPUT_NAME" "CORE_LINKS;SOURCES")
  set(dir ${VORLAN_SRC}/${folder})
  if(NOT ARG_CORE)
    set(ARG_CORE ${folder}_core)
  endif()
  if(NOT ARG_CORE_LINKS)
    set(ARG_CORE_LINKS vorlan_common)
  endif()
  if(NOT ARG_MODULE)
    set(ARG_MODULE ${folder})
  endif()

  file(GLOB_RECURSE core_src CONFIGURE_DEPENDS ${dir}/core/*.cpp)
  list(SORT core_src)
  if(core_src)
    add_library(${ARG_CORE} STATIC ${core_src})
    target_include_directories(${ARG_CORE} PUBLIC ${VORLAN_SRC})
    target_link_libraries(${ARG_CORE} PUBLIC ${ARG_CORE_LINKS})
    set(core_lib ${ARG_CORE})
  else()
    set(core_lib vorlan_common)
  endif()

  if(VORLAN_BUILD_PYTHON)
    if(NOT ARG_SOURCES)
      file(GLOB ARG_SOURCES CONFIGURE_DEPENDS ${dir}/bind/*.cpp)
    endif()
    pybind11_add_module(${ARG_MODULE} MODULE ${ARG_SOURCES})
    if(ARG_OUTPUT_NAME)
      set_target_properties(${ARG_MODULE} PROPERTIES OUTPUT_NAME ${ARG_OUTPUT_NAME})
    endif()
    target_link_libraries(${ARG_MODULE} PRIVATE ${core_lib})
    install(TARGETS ${ARG_MODULE} LIBRARY DESTINATION ${VORLAN_PKG_DIR})
  endif()
endfunction()
